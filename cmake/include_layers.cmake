# The whole house's includes between folders are the ones declared below.
#
# Reads every .h and .cpp outside tests/ and bench/, resolves each quoted
# include as the compiler does (the including file's own folder first, then
# the include directories that the build gave it, from the compile_commands.json
# of a configured build; a file that the build does not compile, such as a
# header, takes those of the nearest compiled file of its folder), and fails when
#   - a folder of the house includes one that MAY_INCLUDE does not list for it,
#   - a folder of the platform includes one above it in PLATFORM_LAYERS,
#   - MAY_INCLUDE lists for a folder one declared after it (so the declared
#     edges can never close a circle),
#   - two folders include each other,
#   - a folder outside platform/ reaches past the platform's public headers,
#   - a .h or .cpp lies in no declared folder, or an include cannot be resolved.
# Inside one folder anything goes.
#
#   cmake [-DBUILD_DIR=<build dir>] [-DPRINT=1] -P cmake/include_layers.cmake
#
# BUILD_DIR defaults to build/debug. PRINT=1 also prints the picture, one line
# for each pair of folders: "folder -> folder: the including files".
cmake_minimum_required(VERSION 3.25)

# The platform's own folders, lowest first: one of them includes from itself
# and the ones below it only. Each entry is a folder; a file belongs to the
# longest entry (here or in MAY_INCLUDE) that its path starts with.
set(PLATFORM_LAYERS
  platform/include           # the platform's public headers: Win32-shaped types and calls
  platform/strings
  platform/kernel            # handles, events, threads, waits, mutexes, debug output
  platform/registry
  platform/session           # what the processes of one device share: its root, run/, names, posts, windows
  platform/devices           # device manager, stream-driver interface, comm calls
  platform/drivers/serial
  platform/resources
  platform/user              # windows, dialogs, controls, queues, timers, message boxes
  platform/shell             # tray, input panel, special folders, files
  platform/input             # a person's input and what the windows show, for displays and test drivers
  platform/display/headless
  platform/display/qt
  platform/runtime           # process start: configuration, boot, display, WinMain
)

# The house's folders and, for each, the other folders it may include besides
# the platform's public headers (platform/include), which every folder may.
# An include to a folder that is not listed for the includer fails, and so
# does a folder that no entry declares.
set(MAY_INCLUDE
  "drivers/quorvel:"          # the virtual port driver, a module of its own
  "command_line:"             # what every command answers: --help, --version; JSON for the commands
  "serial:"                   # CSerial, the serial port class
  "state: "                   # the program's shared records, the settings table, the baud table
  "resources:"                # the dialog templates and the ids they share
  "gpsd:"                     # the ports handed to gpsd over its control socket
  "network:"                  # the stream served over TCP and UDP to other programs and machines
  "mqtt:"                     # the stream's sentences published to an MQTT broker
  "dns_sd:"                   # the TCP server announced by DNS-SD through Avahi
  "host_check:"               # who a host serial device is and what stands in its way
  "ports: state resources"    # the port lists the window shows
  "settings: state resources network"   # the registry's settings, the Startup shortcut, the autostart replay
  "relay: state resources serial network mqtt dns_sd gpsd"   # the run: worker, outputs, counters, network outputs
  "setup: state"              # installing into a device: module, install path, shortcuts, login entry
  "status: state relay settings setup command_line host_check"    # the answers to tavrel-status and tavrel-config
  "app: state resources ports settings relay status setup command_line"   # the window and the program's entry
  "tools: state settings setup status command_line host_check mqtt"   # the programs beside tavrel, a folder each
  "tools/compat: command_line"   # tavrel-compat and the library it preloads into other programs
  "testkit:"                  # what the tests and the benchmarks share; nothing of the house includes it
)

# Every declared folder, and each of MAY_INCLUDE's targets declared before
# the folder that lists it.
set(LAYERS ${PLATFORM_LAYERS})
foreach(entry IN LISTS MAY_INCLUDE)
  string(REGEX REPLACE ":.*$" "" folder "${entry}")
  string(REGEX REPLACE "^[^:]*:" "" targets "${entry}")
  string(REGEX MATCHALL "[^ \t]+" targets "${targets}")
  foreach(target IN LISTS targets)
    if(NOT target IN_LIST LAYERS)
      message(FATAL_ERROR "MAY_INCLUDE: ${folder} lists ${target}, which is not declared before it")
    endif()
  endforeach()
  list(APPEND LAYERS "${folder}")
endforeach()

get_filename_component(SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT DEFINED BUILD_DIR)
  set(BUILD_DIR "${SOURCE_DIR}/build/debug")
endif()
get_filename_component(BUILD_DIR "${BUILD_DIR}" ABSOLUTE BASE_DIR "${SOURCE_DIR}")
if(BUILD_DIR STREQUAL SOURCE_DIR)
  message(FATAL_ERROR "the build folder must not be the source folder: nothing would be left to read")
endif()

# Adds a line to the report of what is wrong.
function(problem text)
  set_property(GLOBAL APPEND PROPERTY problems "${text}")
endfunction()

# The source-relative path of `path`, or empty when it lies outside the
# sources or inside a build folder (generated files are no folder's).
function(house_path path out)
  file(RELATIVE_PATH relative "${SOURCE_DIR}" "${path}")
  file(RELATIVE_PATH fromBuild "${BUILD_DIR}" "${path}")
  if(relative MATCHES "^\\.\\./" OR relative MATCHES "^build/" OR NOT fromBuild MATCHES "^\\.\\./")
    set(relative "")
  endif()
  set(${out} "${relative}" PARENT_SCOPE)
endfunction()

# The include directories on a compile line, in the order the compiler searches them.
function(include_dirs_of command directory out)
  separate_arguments(words UNIX_COMMAND "${command}")
  set(dirs "")
  set(takeNext FALSE)
  foreach(word IN LISTS words)
    if(takeNext)
      set(dir "${word}")
      set(takeNext FALSE)
    elseif(word MATCHES "^-(I|iquote|isystem)$")
      set(takeNext TRUE)
      continue()
    elseif(word MATCHES "^-(I|iquote|isystem)(.+)$")
      set(dir "${CMAKE_MATCH_2}")
    else()
      continue()
    endif()
    get_filename_component(dir "${dir}" ABSOLUTE BASE_DIR "${directory}")
    list(APPEND dirs "${dir}")
  endforeach()
  set(${out} "${dirs}" PARENT_SCOPE)
endfunction()

# Records the include directories of every compiled file of the house.
function(read_compile_commands)
  set(database "${BUILD_DIR}/compile_commands.json")
  if(NOT EXISTS "${database}")
    message(FATAL_ERROR "${database} is missing: configure a build first (cmake --preset debug), or name one with -DBUILD_DIR")
  endif()
  file(READ "${database}" json)
  string(JSON count LENGTH "${json}")
  math(EXPR last "${count} - 1")
  set(compiled "")
  foreach(index RANGE ${last})
    string(JSON entry GET "${json}" ${index})
    string(JSON file GET "${entry}" file)
    string(JSON directory GET "${entry}" directory)
    string(JSON command GET "${entry}" command)
    get_filename_component(file "${file}" ABSOLUTE BASE_DIR "${directory}")
    house_path("${file}" relative)
    if(relative STREQUAL "")
      continue()
    endif()
    include_dirs_of("${command}" "${directory}" dirs)
    set_property(GLOBAL PROPERTY "dirs:${relative}" "${dirs}")
    list(APPEND compiled "${relative}")
  endforeach()
  list(SORT compiled)
  set_property(GLOBAL PROPERTY compiled "${compiled}")
endfunction()

# The include directories of a file: its own when the build compiles it, else
# those of the first compiled file in its folder, looking further up while a
# folder holds none (the public headers take those of the platform's files).
function(dirs_for relative out)
  get_property(known GLOBAL PROPERTY "dirs:${relative}" SET)
  if(known)
    get_property(dirs GLOBAL PROPERTY "dirs:${relative}")
    set(${out} "${dirs}" PARENT_SCOPE)
    return()
  endif()
  get_property(compiled GLOBAL PROPERTY compiled)
  get_filename_component(folder "${relative}" DIRECTORY)
  while(NOT folder STREQUAL "")
    foreach(file IN LISTS compiled)
      string(FIND "${file}" "${folder}/" at)
      if(at EQUAL 0)
        dirs_for("${file}" dirs)
        set(${out} "${dirs}" PARENT_SCOPE)
        return()
      endif()
    endforeach()
    get_filename_component(folder "${folder}" DIRECTORY)
  endwhile()
  set(${out} "" PARENT_SCOPE)
endfunction()

# The declared layer that a source-relative path belongs to, or empty.
function(layer_of relative out)
  set(found "")
  foreach(layer IN LISTS LAYERS)
    string(LENGTH "${layer}" length)
    string(LENGTH "${found}" foundLength)
    string(FIND "${relative}" "${layer}/" at)
    if(at EQUAL 0 AND length GREATER foundLength)
      set(found "${layer}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# Where a quoted include of `relative` leads: the file (source-relative), a
# generated or outside file (empty), or "?" when nothing is found.
function(resolve relative name out)
  get_filename_component(own "${SOURCE_DIR}/${relative}" DIRECTORY)
  dirs_for("${relative}" dirs)
  foreach(dir IN ITEMS "${own}" LISTS dirs)
    get_filename_component(candidate "${dir}/${name}" ABSOLUTE)
    if(EXISTS "${candidate}" AND NOT IS_DIRECTORY "${candidate}")
      house_path("${candidate}" target)
      set(${out} "${target}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "?" PARENT_SCOPE)
endfunction()

# Reads the quoted includes of every file of the house and records, for each
# pair of folders "from -> to", the including files and what they include.
function(read_includes)
  file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
  list(FILTER sources EXCLUDE REGEX "^(build|tests|bench)/|(^|/)\\.")
  list(SORT sources)
  foreach(relative IN LISTS sources)
    house_path("${SOURCE_DIR}/${relative}" inHouse)
    if(inHouse STREQUAL "")
      continue()
    endif()
    layer_of("${relative}" from)
    if(from STREQUAL "")
      problem("${relative} lies in no declared folder: add it to MAY_INCLUDE")
      continue()
    endif()
    set_property(GLOBAL APPEND PROPERTY files "${relative}")
    file(STRINGS "${SOURCE_DIR}/${relative}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" name "${line}")
      record_include("${relative}" "${from}" "${name}")
    endforeach()
  endforeach()
endfunction()

# Resolves one include of a file of folder `from` and records it when it
# leads to another folder.
function(record_include relative from name)
  resolve("${relative}" "${name}" target)
  if(target STREQUAL "?")
    problem("${relative}: \"${name}\" cannot be resolved with the build's include directories")
    return()
  endif()
  if(target STREQUAL "")
    return()
  endif()
  layer_of("${target}" to)
  if(to STREQUAL "" OR to STREQUAL from)
    return()
  endif()
  set(edge "${from} -> ${to}")
  string(LENGTH "${from}/" skip)
  string(SUBSTRING "${relative}" ${skip} -1 within)
  get_property(edges GLOBAL PROPERTY edges)
  if(NOT edge IN_LIST edges)
    set_property(GLOBAL APPEND PROPERTY edges "${edge}")
  endif()
  get_property(files GLOBAL PROPERTY "files:${edge}")
  if(NOT within IN_LIST files)
    set_property(GLOBAL APPEND PROPERTY "files:${edge}" "${within}")
  endif()
  set_property(GLOBAL APPEND PROPERTY "includes:${edge}" "${within} includes \"${name}\"")
endfunction()

# The picture: one line for each pair of folders, with the including files.
function(print_picture)
  get_property(edges GLOBAL PROPERTY edges)
  list(SORT edges)
  foreach(edge IN LISTS edges)
    get_property(files GLOBAL PROPERTY "files:${edge}")
    list(JOIN files ", " files)
    message(NOTICE "${edge}: ${files}")
  endforeach()
endfunction()

# Whether folder `from` of the house may include folder `to`.
function(may_include from to out)
  set(allowed FALSE)
  if(to STREQUAL "platform/include")
    set(allowed TRUE)
  endif()
  foreach(entry IN LISTS MAY_INCLUDE)
    if(entry MATCHES "^${from}:(.*)$")
      string(REGEX MATCHALL "[^ \t]+" targets "${CMAKE_MATCH_1}")
      if(to IN_LIST targets)
        set(allowed TRUE)
      endif()
    endif()
  endforeach()
  set(${out} ${allowed} PARENT_SCOPE)
endfunction()

# Each include between folders is one that MAY_INCLUDE allows (inside the
# platform: one that points down its layers), no two folders include each
# other, and the platform is reached from outside through its public headers.
function(check_edges)
  get_property(edges GLOBAL PROPERTY edges)
  list(SORT edges)
  foreach(edge IN LISTS edges)
    string(REPLACE " -> " ";" ends "${edge}")
    list(GET ends 0 from)
    list(GET ends 1 to)
    get_property(includes GLOBAL PROPERTY "includes:${edge}")
    list(JOIN includes ", " includes)
    if(from MATCHES "^platform/")
      list(FIND PLATFORM_LAYERS "${from}" fromRank)
      list(FIND PLATFORM_LAYERS "${to}" toRank)
      if(toRank GREATER fromRank OR toRank EQUAL -1)
        problem("${edge} points up the platform's layers: ${includes}")
      endif()
    elseif(NOT to MATCHES "^platform/")
      may_include("${from}" "${to}" allowed)
      if(NOT allowed)
        problem("${edge} is not among the folders that ${from} may include: ${includes}")
      endif()
    endif()
    if("${to} -> ${from}" IN_LIST edges AND from STRLESS to)
      problem("${from} and ${to} include each other")
    endif()
    if(NOT from MATCHES "^platform/" AND to MATCHES "^platform/" AND NOT to STREQUAL "platform/include")
      problem("${edge} reaches past the platform's public headers: ${includes}")
    endif()
  endforeach()
endfunction()

read_compile_commands()
read_includes()
if(PRINT)
  print_picture()
endif()
check_edges()

get_property(problems GLOBAL PROPERTY problems)
if(problems)
  list(LENGTH problems count)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "Includes between folders that are not allowed (${count}):\n  ${text}")
endif()
get_property(files GLOBAL PROPERTY files)
get_property(edges GLOBAL PROPERTY edges)
list(LENGTH files fileCount)
list(LENGTH edges edgeCount)
message(STATUS "Includes between folders as allowed: ${fileCount} files, ${edgeCount} pairs of folders")
