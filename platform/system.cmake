# The registry stores JSON behind a CRC-32 header line.
find_package(nlohmann_json 3 REQUIRED)
find_package(ZLIB REQUIRED)
target_link_libraries(kx_platform PRIVATE nlohmann_json::nlohmann_json ZLIB::ZLIB)
