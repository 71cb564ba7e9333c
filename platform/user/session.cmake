# What the processes of one device share: named mutexes, the board of windows,
# posts across processes.
target_sources(tavrel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/../kernel/mutex.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session_names.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session_posts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session_windows.cpp
)
