# Removes the files that `cmake --install` listed in its manifest, under $DESTDIR when that is
# set, as the installation itself was. Directories are left alone unless they belong to
# tidewrack alone (a path component named tidewrack) and are empty once its files are gone.
#
# Usage: cmake -D MANIFEST=<build>/install_manifest.txt -P uninstall.cmake
if(NOT DEFINED MANIFEST OR NOT EXISTS "${MANIFEST}")
    message(FATAL_ERROR "No install manifest at '${MANIFEST}': nothing was installed from this "
                        "build tree, or the manifest was removed.")
endif()

file(STRINGS "${MANIFEST}" installed)
set(failed "")
set(ownDirectories "")
foreach(path IN LISTS installed)
    set(file "$ENV{DESTDIR}${path}")
    if(IS_SYMLINK "${file}" OR EXISTS "${file}")
        message(STATUS "Removing ${file}")
        file(REMOVE "${file}")
        if(IS_SYMLINK "${file}" OR EXISTS "${file}")
            list(APPEND failed "${file}")
        endif()
    else()
        message(STATUS "Already gone: ${file}")
    endif()
    cmake_path(GET file PARENT_PATH directory)
    while(directory MATCHES "/tidewrack(/|$)")
        list(APPEND ownDirectories "${directory}")
        cmake_path(GET directory PARENT_PATH directory)
    endwhile()
endforeach()

# Deepest first, so that a directory's own subdirectories are gone before it is looked at.
list(REMOVE_DUPLICATES ownDirectories)
list(SORT ownDirectories ORDER DESCENDING)
foreach(directory IN LISTS ownDirectories)
    file(GLOB left "${directory}/*" "${directory}/.*")
    if(IS_DIRECTORY "${directory}" AND left STREQUAL "")
        message(STATUS "Removing ${directory}")
        file(REMOVE_RECURSE "${directory}")
    endif()
endforeach()

if(failed)
    list(JOIN failed "\n  " failedText)
    message(FATAL_ERROR "Could not remove:\n  ${failedText}")
endif()
