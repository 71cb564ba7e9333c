# Special folders and the files of the device's file system.
target_sources(tavrel_platform PRIVATE
  folders_and_files.cpp
  file_search.cpp
  device_file_paths.cpp
  name_patterns.cpp
  host_files.cpp
)
