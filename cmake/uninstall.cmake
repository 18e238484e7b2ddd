# Removes the files that the last `cmake --install` into PREFIX, under $DESTDIR when that is
# set, wrote: the record that installation left in RECORDS (see install-record/). A file that
# the Debian package manager says belongs to a package is never removed, even when it is
# listed. Directories are left alone unless they belong to tidewrack alone (a path component
# named tidewrack) and are empty once its files are gone.
#
# Usage: cmake -D RECORDS=<build>/install-records -D PREFIX=<prefix> -P uninstall.cmake
#    or: cmake -D MANIFEST=<list of files> -P uninstall.cmake
if(NOT DEFINED MANIFEST)
    string(MD5 destination "$ENV{DESTDIR}${PREFIX}")
    set(MANIFEST "${RECORDS}/${destination}.txt")
    if(NOT EXISTS "${MANIFEST}")
        message(FATAL_ERROR "Nothing was installed from this build tree into "
                            "'$ENV{DESTDIR}${PREFIX}'; nothing removed.")
    endif()
endif()

find_program(DPKG dpkg)
file(STRINGS "${MANIFEST}" installed REGEX "^/")
set(failed "")
set(ownDirectories "")
foreach(path IN LISTS installed)
    set(file "$ENV{DESTDIR}${path}")
    set(owner "")
    if(DPKG)
        execute_process(COMMAND ${DPKG} -S "${file}" RESULT_VARIABLE unowned
                        OUTPUT_VARIABLE owner ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(unowned)
            set(owner "")
        endif()
    endif()
    if(owner)
        message(STATUS "Kept, it belongs to a package: ${owner}")
    elseif(IS_SYMLINK "${file}" OR EXISTS "${file}")
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

if(EXISTS "${RECORDS}" AND NOT failed)
    file(REMOVE "${MANIFEST}")
endif()

if(failed)
    list(JOIN failed "\n  " failedText)
    message(FATAL_ERROR "Could not remove:\n  ${failedText}")
endif()
