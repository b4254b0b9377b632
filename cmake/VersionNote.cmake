# Version information for our executables and libraries: an ELF note section
# ".note.norvix.version" (name "NORVIX", type 1) that TBVersionInfo reads from the file
# without loading it. Descriptor layout:
#   uint16 file version[4] (major, minor, release, build)
#   uint16 product version[4]
#   then pairs of zero-terminated texts "Name" "Value" (FileVersion, ProductVersion,
#   FileDescription, CompanyName, ProductName, InternalName, OriginalFilename, ...),
#   closed by an empty name.
#
# norvix_version_note(<target> FILE_VERSION a.b.c.d [PRODUCT_VERSION text]
#                     [DESCRIPTION text] [PRODUCT_NAME text] [COMPANY text])
function(norvix_version_note target)
  cmake_parse_arguments(V "" "FILE_VERSION;PRODUCT_VERSION;DESCRIPTION;PRODUCT_NAME;COMPANY" "" ${ARGN})
  if(NOT V_FILE_VERSION)
    set(V_FILE_VERSION "${PROJECT_VERSION}.0")
  endif()
  if(NOT V_PRODUCT_VERSION)
    set(V_PRODUCT_VERSION "${V_FILE_VERSION}")
  endif()
  if(NOT V_COMPANY)
    set(V_COMPANY "NORVIX")
  endif()
  if(NOT V_PRODUCT_NAME)
    set(V_PRODUCT_NAME "Topógrafo de Córnea")
  endif()
  if(NOT V_DESCRIPTION)
    set(V_DESCRIPTION "${target}")
  endif()
  string(REPLACE "." ";" fv "${V_FILE_VERSION}")
  list(LENGTH fv n)
  while(n LESS 4)
    list(APPEND fv 0)
    list(LENGTH fv n)
  endwhile()
  list(JOIN fv ", " fixed_file)
  # Product version numbers: the digits of the product version text, missing parts 0.
  string(REGEX MATCHALL "[0-9]+" pv "${V_PRODUCT_VERSION}")
  list(LENGTH pv n)
  while(n LESS 4)
    list(APPEND pv 0)
    list(LENGTH pv n)
  endwhile()
  list(SUBLIST pv 0 4 pv)
  list(JOIN pv ", " fixed_product)

  get_target_property(out_name ${target} OUTPUT_NAME)
  if(NOT out_name)
    set(out_name ${target})
  endif()
  set(strings "")
  foreach(pair "FileVersion|${V_FILE_VERSION}" "ProductVersion|${V_PRODUCT_VERSION}"
               "FileDescription|${V_DESCRIPTION}" "CompanyName|${V_COMPANY}"
               "ProductName|${V_PRODUCT_NAME}" "InternalName|${out_name}"
               "OriginalFilename|${out_name}")
    string(REPLACE "|" ";" kv "${pair}")
    list(GET kv 0 k)
    list(GET kv 1 v)
    string(REPLACE "\\" "\\\\" v "${v}")
    string(REPLACE "\"" "\\\"" v "${v}")
    string(APPEND strings "    \"${k}\" \"\\0\" \"${v}\" \"\\0\" \\\n")
  endforeach()
  set(src "${CMAKE_CURRENT_BINARY_DIR}/${target}_version_note.c")
  file(CONFIGURE OUTPUT "${src}" CONTENT [=[
/* Generated: version note of @target@. */
#include <stdint.h>
#define NORVIX_STRINGS \
@strings@    "\0"
struct norvix_version_note {
    uint32_t namesz, descsz, type;
    char name[8];
    uint16_t fixed[8];
    char strings[(sizeof(NORVIX_STRINGS) + 3) & ~3u];
};
__attribute__((section(".note.norvix.version"), used, aligned(4)))
static const struct norvix_version_note norvix_version_note_data = {
    7, (uint32_t)(16 + sizeof(NORVIX_STRINGS)), 1, "NORVIX",
    { @fixed_file@, @fixed_product@ },
    NORVIX_STRINGS
};
]=] @ONLY)
  target_sources(${target} PRIVATE "${src}")
endfunction()
