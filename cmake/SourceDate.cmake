# Dates in the RPM and the manual pages come from SOURCE_DATE_EPOCH, so that
# two builds of one commit are byte-identical (dpkg-buildpackage sets it from
# debian/changelog); without it, from the date of the checked-out commit.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ORLIM_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE ORLIM_SOURCE_DATE_EPOCH
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT ORLIM_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    string(TIMESTAMP ORLIM_SOURCE_DATE_EPOCH "%s" UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${ORLIM_SOURCE_DATE_EPOCH})
endif()
# ISO 8601, which man and mandoc both read as a date.
string(TIMESTAMP ORLIM_MAN_DATE "%Y-%m-%d" UTC)
