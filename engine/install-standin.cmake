# Installs the stand-in colour library under the four names the filter tries,
# in its order: the first name gets the library, the other three become links
# to it. A maker's library must keep working, so nothing that is not our own
# stand-in is ever replaced:
#   - a name that holds our stand-in (a file carrying ZERU_STANDIN_MARKER, or a
#     link to the first name) is updated;
#   - a name that holds anything else is left as it is, with a warning;
#   - the first name is filled only when it holds our stand-in already or when
#     none of the names holds a maker's library, so that the stand-in never
#     comes to be loaded in place of a maker's library that was found.
# Run by cmake --install with ZERU_STANDIN_FILE, ZERU_STANDIN_MARKER and
# ZERU_ENGINE_DIR set.

set(zeruDir "$ENV{DESTDIR}${ZERU_ENGINE_DIR}")
set(zeruMain "ZEMRO TX 7Mcl.so")
set(zeruAliases "ZEMRO TX 7cl.so" "ZEMRO TX 7MNcl.so" "ZEMRO TX 7Ncl.so")

# Sets `result` to "absent", "ours" or "foreign".
function(zeru_classify path result)
  if(IS_SYMLINK "${path}")
    file(READ_SYMLINK "${path}" target)
    if("${target}" STREQUAL "${zeruMain}")
      set(${result} ours PARENT_SCOPE)
      return()
    endif()
  elseif(NOT EXISTS "${path}")
    set(${result} absent PARENT_SCOPE)
    return()
  endif()
  # A link elsewhere counts by what it leads to; a dangling one is not ours.
  set(hits "")
  if(EXISTS "${path}" AND NOT IS_DIRECTORY "${path}")
    file(STRINGS "${path}" hits LIMIT_COUNT 1 REGEX "${ZERU_STANDIN_MARKER}")
  endif()
  if(NOT "${hits}" STREQUAL "")
    set(${result} ours PARENT_SCOPE)
  else()
    set(${result} foreign PARENT_SCOPE)
  endif()
endfunction()

set(zeruForeign "")
foreach(name ${zeruMain} ${zeruAliases})
  zeru_classify("${zeruDir}/${name}" kind)
  set("zeruKind_${name}" "${kind}")
  if("${kind}" STREQUAL "foreign")
    list(APPEND zeruForeign "${name}")
  endif()
endforeach()

if("${zeruKind_${zeruMain}}" STREQUAL "ours" OR
   ("${zeruKind_${zeruMain}}" STREQUAL "absent" AND "${zeruForeign}" STREQUAL ""))
  file(REMOVE "${zeruDir}/${zeruMain}")
  file(INSTALL DESTINATION "${ZERU_ENGINE_DIR}" TYPE FILE
       PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
       RENAME "${zeruMain}" FILES "${ZERU_STANDIN_FILE}")
  foreach(name ${zeruAliases})
    if(NOT "${zeruKind_${name}}" STREQUAL "foreign")
      message(STATUS "Installing: ${zeruDir}/${name} -> ${zeruMain}")
      file(REMOVE "${zeruDir}/${name}")
      file(CREATE_LINK "${zeruMain}" "${zeruDir}/${name}" SYMBOLIC)
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${zeruDir}/${name}")
    endif()
  endforeach()
  foreach(name ${zeruForeign})
    message(WARNING "A maker's colour library is installed at\n"
      "  ${zeruDir}/${name}\n"
      "It is left in place, but the filter loads the stand-in colour library at\n"
      "  ${zeruDir}/${zeruMain}\n"
      "before it: remove that file to use the maker's library.")
  endforeach()
else()
  foreach(name ${zeruForeign})
    message(WARNING "A maker's colour library is installed at\n"
      "  ${zeruDir}/${name}\n"
      "It is left in place, and the stand-in colour library is not installed.")
  endforeach()
endif()
