# Dates in the packages and the manual pages come from SOURCE_DATE_EPOCH, so
# that two builds of one release are byte-identical; without it, from the
# date of debian/changelog's newest entry, which is what dpkg-buildpackage
# sets it to: the RPMs and the .debs carry one date.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ORLIM_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog trailer REGEX "^ -- .*>  " LIMIT_COUNT 1)
  string(REGEX REPLACE "^ -- .*>  " "" released "${trailer}")
  execute_process(COMMAND date -u -d "${released}" +%s
                  OUTPUT_VARIABLE ORLIM_SOURCE_DATE_EPOCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT ORLIM_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "debian/changelog: no date in its newest entry's last line: '${trailer}'")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${ORLIM_SOURCE_DATE_EPOCH})
endif()
# ISO 8601, which man and mandoc both read as a date.
string(TIMESTAMP ORLIM_MAN_DATE "%Y-%m-%d" UTC)
