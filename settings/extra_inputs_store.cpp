#include "settings/extra_inputs_store.h"

#include "platform/strings.h"
#include "settings/input_description.h"
#include "settings/setting_values.h"

ExtraInputs ReadExtraInputs(const platform::RegistryKey& key, std::vector<std::string>& problems)
{
    ExtraInputs inputs;
    for (std::size_t number = 1; number <= kMostExtraInputs; ++number) {
        const SettingEntry& entry = Setting(ExtraInputSetting(number));
        const std::u16string text = SettingTextValue(ReadSetting(key, entry), entry);
        if (text.empty()) {
            continue;
        }
        std::string reason;
        if (std::optional<ExtraInput> input = ParseExtraInputText(platform::ToUtf8(text), reason)) {
            inputs.push_back(std::move(*input));
        } else {
            problems.push_back(platform::ToUtf8(std::u16string(entry.registryName)) + " is left out: " + reason);
        }
    }
    return inputs;
}

bool WriteExtraInputs(const platform::RegistryKey& key, const ExtraInputs& inputs)
{
    bool written = true;
    for (std::size_t number = 1; number <= kMostExtraInputs; ++number) {
        const SettingEntry& entry = Setting(ExtraInputSetting(number));
        const SettingValue value = number <= inputs.size()
                                       ? SettingValue{platform::ToUtf16(ExtraInputText(inputs[number - 1]))}
                                       : SettingValue{};
        written = WriteSetting(key, entry, value) && written;
    }
    return written;
}

bool RemoveExtraInput(ExtraInputs& inputs, std::size_t number, std::string& reason)
{
    if (number < 1 || number > inputs.size()) {
        reason = "there is no input " + std::to_string(number);
        return false;
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (inputs[i].standbyFor == number) {
            reason = "input " + std::to_string(i + 1) + " stands by for it; remove that one first";
            return false;
        }
    }
    inputs.erase(inputs.begin() + static_cast<std::ptrdiff_t>(number - 1));
    for (ExtraInput& input : inputs) {
        if (input.standbyFor && *input.standbyFor > number) {
            input.standbyFor = *input.standbyFor - 1;
        }
    }
    return true;
}
