// The parts of a Tavrel device's set-up that the tools leave to a person:
// choosing the outputs, and moving host serial ports that hold the numbers
// the relay needs out of the way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tavrel::bench {

// The COM number that tavrel-demo-setup gives the input.
inline constexpr int kInputPortNumber = 9;

// The first `count` (at most 9) of the output numbers 2 to 8, 0, 1.
std::vector<int> OutputNumbers(int count);

// The "Split" value that chooses `numbers`: bit n + 1 for COM n.
std::uint32_t SplitMask(const std::vector<int>& numbers);

// Boots the device at `deviceRoot` (whose user settings tavrel-demo-setup
// wrote), saves `outputs` as the chosen outputs, and gives every other
// built-in port whose number the input or an output needs a number above 9
// (the host's own ttyS0 is COM1 at first), as a person would edit its key.
// Throws std::runtime_error when the device does not come up.
void ChooseOutputs(const std::filesystem::path& deviceRoot, const std::filesystem::path& portFolder,
                   const std::vector<int>& outputs, const std::string& inputTty);

}  // namespace tavrel::bench
