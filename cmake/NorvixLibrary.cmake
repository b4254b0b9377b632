# norvix_add_library(<name> [STATIC|SHARED] SOURCES <files...> DEPENDS <targets...>)
#
# A library of this tree with its sources named (no globbing) and what it may use: DEPENDS are
# linked PUBLIC. The folder of its sources is recorded, so that norvix_check_layers() can refuse
# an include of another folder's header that DEPENDS does not allow (through the libraries it
# names, directly or further down). The whole tree stays the include root, as every include is
# written from it ("records/UDExames.h"); the check is what keeps the layers apart.
function(norvix_add_library name)
  cmake_parse_arguments(ARG "STATIC;SHARED" "" "SOURCES;DEPENDS" ${ARGN})
  set(kind STATIC)
  if(ARG_SHARED)
    set(kind SHARED)
  endif()
  add_library(${name} ${kind} ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  if(ARG_DEPENDS)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  endif()
  _norvix_record_layer(${name} "${ARG_SOURCES}" "${ARG_DEPENDS}")
endfunction()

# norvix_add_module(<name> [EXECUTABLE] SOURCES <files...> DEPENDS <targets...>)
#
# A run-time module (MODULE library) or, with EXECUTABLE, a tool: nothing links it, so DEPENDS
# are linked PRIVATE. Its sources are read by norvix_check_layers() like a library's.
function(norvix_add_module name)
  cmake_parse_arguments(ARG "EXECUTABLE" "" "SOURCES;DEPENDS" ${ARGN})
  if(ARG_EXECUTABLE)
    add_executable(${name} ${ARG_SOURCES})
  else()
    add_library(${name} MODULE ${ARG_SOURCES})
  endif()
  if(ARG_DEPENDS)
    target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
  endif()
  _norvix_record_layer(${name} "${ARG_SOURCES}" "${ARG_DEPENDS}")
endfunction()

# Records the folder, DEPENDS and files of a target for norvix_check_layers(). A source may be
# named from another folder by an absolute path (the capture module's legacy settings reader);
# it is read like the others, and the folder owned stays the current one.
function(_norvix_record_layer name sources depends)
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY NORVIX_LAYERED_LIBRARIES ${name})
  set_property(GLOBAL PROPERTY NORVIX_FOLDER_${name} ${folder})
  set_property(GLOBAL PROPERTY NORVIX_DEPENDS_${name} ${depends})
  set_property(GLOBAL PROPERTY NORVIX_OWNER_${folder} ${name})
  # Its sources and the headers of the same names: what the check reads for it.
  set(files "")
  foreach(source IN LISTS sources)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} OUTPUT_VARIABLE path)
    list(APPEND files ${path})
    string(REGEX REPLACE "\\.cpp$" ".h" header ${path})
    if(EXISTS ${header})
      list(APPEND files ${header})
    endif()
  endforeach()
  set_property(GLOBAL PROPERTY NORVIX_FILES_${name} ${files})
endfunction()

# A header any layer may include, named from the tree: a C contract with no code behind it (the module contract).
function(norvix_open_header path)
  set_property(GLOBAL APPEND PROPERTY NORVIX_OPEN_HEADERS ${path})
endfunction()

# The folders a library may include from: its own and those of the layered libraries it
# depends on, directly or further down.
function(_norvix_allowed_folders name out)
  set(seen "")
  set(todo ${name})
  set(folders "")
  while(todo)
    list(POP_FRONT todo current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    get_property(folder GLOBAL PROPERTY NORVIX_FOLDER_${current})
    if(folder)
      list(APPEND folders ${folder})
    endif()
    get_property(deps GLOBAL PROPERTY NORVIX_DEPENDS_${current})
    list(APPEND todo ${deps})
  endwhile()
  set(${out} ${folders} PARENT_SCOPE)
endfunction()

# Fails the configuration when a layered library's source or header includes a header of a
# folder owned by another layered library it does not depend on; names the file and the line.
function(norvix_check_layers)
  get_property(libraries GLOBAL PROPERTY NORVIX_LAYERED_LIBRARIES)
  get_property(open GLOBAL PROPERTY NORVIX_OPEN_HEADERS)
  set(faults "")
  foreach(name IN LISTS libraries)
    _norvix_allowed_folders(${name} allowed)
    get_property(files GLOBAL PROPERTY NORVIX_FILES_${name})
    foreach(file IN LISTS files)
      file(STRINGS ${file} includes REGEX "^#include \"[^\"]+/[^\"/]+\\.h\"")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^#include \"(.+)/[^/]+\\.h\".*" "\\1" included "${line}")
        string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
        get_property(owner GLOBAL PROPERTY NORVIX_OWNER_${included})
        if(owner AND NOT included IN_LIST allowed AND NOT header IN_LIST open)
          file(RELATIVE_PATH shown ${CMAKE_SOURCE_DIR} ${file})
          list(APPEND faults "${shown}: ${line} (${name} does not depend on ${owner})")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "Includes across layers that the libraries' DEPENDS do not allow:\n  ${text}")
  endif()
endfunction()
