# Named mutexes, known to the other processes of the device.
target_sources(tavrel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/../kernel/mutex.cpp
)
