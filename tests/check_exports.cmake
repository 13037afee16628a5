# Fails unless the shared library's defined dynamic symbols are exactly the exports.
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(names)
foreach(line ${lines})
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
  # Version nodes (ebook_info@@QUENFOLD_EBOOK_0.1) name no function of their own.
  string(REGEX REPLACE "@.*$" "" name "${name}")
  if(name MATCHES "^QUENFOLD_EBOOK_")
    continue()
  endif()
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(want ebook_extract_cover ebook_free_string ebook_info ebook_last_error ebook_metadata
  ebook_metadata_from_memory ebook_metadata_from_reader ebook_rename_plan ebook_scan_dir
  ebook_write_metadata)
if(NOT names STREQUAL want)
  message(FATAL_ERROR "exported symbols: ${names}\nexpected: ${want}")
endif()
