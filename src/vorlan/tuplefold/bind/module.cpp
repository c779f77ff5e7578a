// vorlan.tuplefold: conversion of tuple-set members into tuples.
#include <pybind11/pybind11.h>

namespace py = pybind11;

PYBIND11_MODULE(tuplefold, m) {
    m.doc() = "Tuple-set conversion for code generators.";
}
