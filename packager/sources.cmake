# The cabinet writer and the packager are portable: the host build and the Windows build
# compile the same sources, with the platform layer of their system (in the writer's library, with
# the text helpers it uses).
if(WIN32)
  set(PACKAGER_HOST_SOURCE ${CMAKE_CURRENT_LIST_DIR}/host_windows.cpp)
else()
  set(PACKAGER_HOST_SOURCE ${CMAKE_CURRENT_LIST_DIR}/host_posix.cpp)
endif()
set(CABWRITER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/cab_writer.cpp ${CMAKE_CURRENT_LIST_DIR}/sha256.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lzx_encoder.cpp ${CMAKE_CURRENT_LIST_DIR}/lzx_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lzx_chain_match_finder.cpp ${CMAKE_CURRENT_LIST_DIR}/lzx_lazy_parse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lzx_tree_match_finder.cpp ${CMAKE_CURRENT_LIST_DIR}/lzx_optimal_parse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lzx_cost_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lzx_block_writer.cpp ${CMAKE_CURRENT_LIST_DIR}/lzx_huffman.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lzx_format.cpp ${PACKAGER_HOST_SOURCE} ${CMAKE_CURRENT_LIST_DIR}/text.cpp)
set(CABPACK_PART_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/file_span.cpp ${CMAKE_CURRENT_LIST_DIR}/pe_image.cpp ${CMAKE_CURRENT_LIST_DIR}/resource_tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pe_resources.cpp ${CMAKE_CURRENT_LIST_DIR}/package_options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/source_folder.cpp ${CMAKE_CURRENT_LIST_DIR}/cabinet_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/version_resource.cpp ${CMAKE_CURRENT_LIST_DIR}/icon_resource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/package_file.cpp ${CMAKE_CURRENT_LIST_DIR}/switches.cpp ${CMAKE_CURRENT_LIST_DIR}/help_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/staged_output.cpp ${CMAKE_CURRENT_LIST_DIR}/pack.cpp ${CMAKE_CURRENT_LIST_DIR}/read_package.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signing.cpp ${CMAKE_CURRENT_LIST_DIR}/package_cli.cpp)
