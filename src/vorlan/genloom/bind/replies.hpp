// What is wrong with an LLM reply that cannot be used, said in the reply's own terms ("'model'
// must be a string, got a number"), and the no-optimum verdict a solve revision may return.
#pragma once
#include <pybind11/pybind11.h>

#include <optional>
#include <string>

#include "genloom/core/loop.hpp"

namespace genloom {
namespace py = pybind11;

// "null", "a boolean", "a number", "a string", "an array", "an object" for a parsed JSON value.
std::string json_kind(const py::handle& v);

// Why parsing a reply failed: the parser's message, or for a JSON value that is not an object
// "expected a JSON object, got an array".
std::string reply_error_text(const py::error_already_set& e);

// Empty for an object with "model" and "data" strings, else what is wrong with it.
std::string pair_shape_error(const py::handle& result);

// What is wrong with an alignment verdict ("'aligned' must be a boolean, got a number").
std::string verdict_shape_error(const py::handle& obj);

// The verdict of {"infeasible_as_described": true, "explanation": "..."} (or unbounded); nullopt
// for any other reply, with `error` set when the reply tried to be one and is malformed.
std::optional<loop::AsDescribed<py::object>> as_described(const py::handle& result, std::string& error);

}  // namespace genloom
