# Generates the lookups of result_codes.tsv: run as
#   cmake -DINPUT=result_codes.tsv -DCPP_OUTPUT=result_code_table.inc -DJAVA_OUTPUT=ResultCodeTable.java -P generate_result_codes.cmake
# The C++ output is the body of an array of { code, "NAME", L"explanation" }; the Java output is a class of
# the package com.tarvik.kelvane.audio with three parallel arrays. Either output may be left out.
cmake_minimum_required(VERSION 3.20)
file(STRINGS ${INPUT} _lines ENCODING UTF-8)
set(_cpp "// Generated from result_codes.tsv by generate_result_codes.cmake: edit the table, not this file.\n")
set(_java_codes "")
set(_java_names "")
set(_java_texts "")
set(_seen "")
foreach(_line IN LISTS _lines)
  if(_line MATCHES "^#" OR _line STREQUAL "")
    continue()
  endif()
  if(NOT _line MATCHES "^0x([0-9A-F]+)\t([A-Za-z0-9_()]+)\t([^\t\"\\\\]+)$")
    message(FATAL_ERROR "${INPUT}: not \"0xHEX<tab>NAME<tab>explanation\": ${_line}")
  endif()
  set(_code ${CMAKE_MATCH_1})
  set(_name ${CMAKE_MATCH_2})
  set(_text ${CMAKE_MATCH_3})
  if(_code IN_LIST _seen)
    message(FATAL_ERROR "${INPUT}: code 0x${_code} is listed twice")
  endif()
  list(APPEND _seen ${_code})
  string(APPEND _cpp "{static_cast<HRESULT>(0x${_code}u), \"${_name}\", L\"${_text}\"},\n")
  string(APPEND _java_codes "            0x${_code},\n")
  string(APPEND _java_names "            \"${_name}\",\n")
  string(APPEND _java_texts "            \"${_text}\",\n")
endforeach()
if(CPP_OUTPUT)
  file(WRITE ${CPP_OUTPUT}.new "${_cpp}")
  file(COPY_FILE ${CPP_OUTPUT}.new ${CPP_OUTPUT} ONLY_IF_DIFFERENT)
  file(REMOVE ${CPP_OUTPUT}.new)
endif()
if(JAVA_OUTPUT)
  file(WRITE ${JAVA_OUTPUT}.new "package com.tarvik.kelvane.audio;

// Generated from result_codes.tsv by generate_result_codes.cmake: edit the table, not this file.
final class ResultCodeTable {
    static final int[] CODES = {
${_java_codes}    };
    static final String[] NAMES = {
${_java_names}    };
    static final String[] TEXTS = {
${_java_texts}    };

    private ResultCodeTable() {
    }
}
")
  file(COPY_FILE ${JAVA_OUTPUT}.new ${JAVA_OUTPUT} ONLY_IF_DIFFERENT)
  file(REMOVE ${JAVA_OUTPUT}.new)
endif()
