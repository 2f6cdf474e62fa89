cmake_minimum_required(VERSION 3.25)
# Renders the user manual to HTML (when cmark-gfm is available) and gzips the
# manual pages. Run by the build: cmake -DSOURCE_DIR=... -DOUT_DIR=...
# [-DCMARK_GFM=...] -DVERSION=... -P build-docs.cmake
file(MAKE_DIRECTORY ${OUT_DIR})

foreach(page pellucidore.6 pellucidore-cli.6)
  # -n keeps the name and time out of the header, so rebuilds are identical.
  execute_process(COMMAND gzip -9nc ${SOURCE_DIR}/docs/${page}
                  OUTPUT_FILE ${OUT_DIR}/${page}.gz RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip of ${page} failed")
  endif()
endforeach()

# `man pellucidore-launcher` finds the page that describes it.
file(WRITE ${OUT_DIR}/pellucidore-launcher.6 ".so man6/pellucidore.6\n")
execute_process(COMMAND gzip -9nc ${OUT_DIR}/pellucidore-launcher.6
                OUTPUT_FILE ${OUT_DIR}/pellucidore-launcher.6.gz RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip of pellucidore-launcher.6 failed")
endif()

if(CMARK_GFM)
  execute_process(COMMAND ${CMARK_GFM} --extension table --extension autolink ${SOURCE_DIR}/docs/manual.md
                  OUTPUT_VARIABLE body RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cmark-gfm could not render docs/manual.md")
  endif()
  # Give headings the ids GitHub derives from their text, so the manual's
  # "#section" links work in the HTML as they do in the Markdown.
  string(REGEX MATCHALL "<h[1-6]>[^<]*</h[1-6]>" headings "${body}")
  foreach(heading IN LISTS headings)
    string(REGEX REPLACE "^<h([1-6])>([^<]*)</h[1-6]>$" "\\1" level "${heading}")
    string(REGEX REPLACE "^<h[1-6]>([^<]*)</h[1-6]>$" "\\1" text "${heading}")
    string(REGEX REPLACE "&[a-z]+;" "" slug "${text}")
    string(TOLOWER "${slug}" slug)
    string(REGEX REPLACE "[^a-z0-9 _-]" "" slug "${slug}")
    string(REPLACE " " "-" slug "${slug}")
    string(REPLACE "${heading}" "<h${level} id=\"${slug}\">${text}</h${level}>" body "${body}")
  endforeach()
  file(READ ${SOURCE_DIR}/packaging/manual-head.html head)
  string(REPLACE "@VERSION@" "${VERSION}" head "${head}")
  file(WRITE ${OUT_DIR}/manual.html "${head}${body}</body>\n</html>\n")
endif()
