# The Debian changelog is the newest entry of NEWS.md, in Debian's format
# and with that entry's date, so that it never lags behind the release.
# Sets MARVIX_NEWS_VERSION, MARVIX_CHANGES and MARVIX_CHANGELOG_DATE for
# changelog.in.
#
# An entry in NEWS.md is a heading "## X.Y.Z (YYYY-MM-DD)" followed by
# bullets ("- ") whose continuation lines are indented by two spaces.

function(marvix_changelog_from_news)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/NEWS.md)
  file(READ ${PROJECT_SOURCE_DIR}/NEWS.md news)
  string(REGEX MATCH "\n## ([0-9]+\\.[0-9]+\\.[0-9]+) \\(([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\\)\n"
         head "${news}")
  if(NOT head)
    message(FATAL_ERROR "NEWS.md has no entry headed \"## X.Y.Z (YYYY-MM-DD)\".")
  endif()
  set(MARVIX_NEWS_VERSION ${CMAKE_MATCH_1} PARENT_SCOPE)
  set(version ${CMAKE_MATCH_1})
  set(year ${CMAKE_MATCH_2})
  math(EXPR month "${CMAKE_MATCH_3}")  # without the leading zero
  math(EXPR day "${CMAKE_MATCH_4}")
  if(NOT version STREQUAL PROJECT_VERSION)
    message(WARNING "The newest entry of NEWS.md is ${version}, the project ${PROJECT_VERSION}.")
  endif()

  # The entry's text: up to the next heading.
  string(FIND "${news}" "${head}" at)
  string(LENGTH "${head}" length)
  math(EXPR at "${at} + ${length} - 1")
  string(SUBSTRING "${news}" ${at} -1 text)
  string(FIND "${text}" "\n## " end)
  string(SUBSTRING "${text}" 0 ${end} text)
  string(REGEX REPLACE "\n\n+" "\n" text "${text}")
  string(REPLACE "\n  " "\n    " text "${text}")
  string(REPLACE "\n- " "\n  * " text "${text}")
  string(STRIP "${text}" text)
  set(MARVIX_CHANGES "  ${text}" PARENT_SCOPE)

  # RFC 2822 date, at midnight UTC. Days since 1970-01-01 by the proleptic
  # Gregorian calendar (a year counted from March, so that the leap day comes
  # last), and from them the weekday: 1970-01-01 was a Thursday.
  if(month LESS_EQUAL 2)
    math(EXPR y "${year} - 1")
    math(EXPR m "${month} + 9")
  else()
    set(y ${year})
    math(EXPR m "${month} - 3")
  endif()
  math(EXPR days "365 * ${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + (153 * ${m} + 2) / 5 + ${day} - 1 - 719468")
  math(EXPR weekday "(${days} + 4) % 7")
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET weekdays ${weekday} weekday)
  math(EXPR month "${month} - 1")
  list(GET months ${month} month)
  if(day LESS 10)
    set(day 0${day})
  endif()
  set(MARVIX_CHANGELOG_DATE "${weekday}, ${day} ${month} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()
