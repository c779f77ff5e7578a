# Provides nlohmann_json::nlohmann_json from the headers of the `nlohmann-json` Python
# package (a build requirement in pyproject.toml). The package is located without
# importing it: its __init__ needs a module the build environment may not have.
find_package(Python 3.11 REQUIRED COMPONENTS Interpreter)
execute_process(
  COMMAND "${Python_EXECUTABLE}" -c
    "import importlib.util, os; s = importlib.util.find_spec('nlohmann_json'); print(os.path.join(list(s.submodule_search_locations)[0], 'include') if s else '')"
  OUTPUT_VARIABLE _vorlan_json_include
  OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE _vorlan_json_status)
if(NOT _vorlan_json_status EQUAL 0 OR NOT EXISTS "${_vorlan_json_include}/nlohmann/json.hpp")
  message(FATAL_ERROR
    "nlohmann/json.hpp not found: install the system package (Debian: nlohmann-json3-dev) "
    "or the Python package nlohmann-json into the Python that runs the build "
    "(${Python_EXECUTABLE})")
endif()
message(STATUS "JSON headers from the Python package nlohmann-json: ${_vorlan_json_include}")
add_library(vorlan_json_headers INTERFACE)
target_include_directories(vorlan_json_headers SYSTEM INTERFACE "${_vorlan_json_include}")
add_library(nlohmann_json::nlohmann_json ALIAS vorlan_json_headers)
