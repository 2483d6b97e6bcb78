# The serial device on termios and the port map.
target_sources(platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CustomBaud.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PortDetails.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PortMap.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TermiosDevice.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WriteBound.cpp
)
