# orlim_rpm_changelog(DEBIAN_CHANGELOG OUTPUT RELEASE VERSION_VAR)
# Writes the entries of a Debian changelog as the body of an RPM %changelog,
# newest first as both want them, and sets VERSION_VAR to the newest entry's
# version:
#
#   orlim (1.0.0) unstable; urgency=medium       * Thu Dec 10 2026 NAME <MAIL> - 1.0.0-RELEASE
#     * First release: ...                   ->  - First release: ...
#       continued                                  continued
#    -- NAME <MAIL>  Thu, 10 Dec 2026 12:00:00 +0000
function(orlim_rpm_changelog changelog output release version_var)
  file(STRINGS ${changelog} lines)
  set(text "")
  set(entry "")
  set(version "")
  set(newest "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[a-z0-9][a-z0-9.+-]* \\(([^)]+)\\) ")
      set(version ${CMAKE_MATCH_1})
      if(newest STREQUAL "")
        set(newest ${version})
      endif()
      set(entry "")
    elseif(line MATCHES "^  \\* (.*)$")
      string(APPEND entry "- ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^    (.*)$")
      string(APPEND entry "  ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^ -- (.+ <[^>]+>)  ([A-Z][a-z][a-z]), ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ")
      set(who ${CMAKE_MATCH_1})
      set(day ${CMAKE_MATCH_3})
      if(day LESS 10)
        set(day "0${day}")
      endif()
      string(APPEND text "* ${CMAKE_MATCH_2} ${CMAKE_MATCH_4} ${day} ${CMAKE_MATCH_5} "
                         "${who} - ${version}-${release}\n${entry}\n")
    elseif(NOT line MATCHES "^ *$")
      message(FATAL_ERROR "${changelog}: a line neither Debian nor RPM changelogs know: '${line}'")
    endif()
  endforeach()
  if(newest STREQUAL "" OR text STREQUAL "")
    message(FATAL_ERROR "${changelog} holds no complete entry")
  endif()
  file(WRITE ${output}.new "${text}")
  file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
  set(${version_var} ${newest} PARENT_SCOPE)
endfunction()
