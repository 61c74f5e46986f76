// Conversion of a Python value to ParamVariant: pybind11's variant
// conversion (alternatives tried in their order, first without and then
// with conversions), except that an integer outside the 32-bit range of
// the int alternative is refused. Left to the generic conversion, such an
// integer would be taken by the double alternative, and a list of them by
// the list of doubles, and reach the robot rounded. The refusal throws
// std::overflow_error, raised in Python as OverflowError.
//
// Every translation unit that converts ParamVariant includes this header,
// so that all of them use the same (one) definition of the conversion.
#pragma once

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <limits>
#include <stdexcept>
#include <string>

#include "vek/data_types.h"

namespace pybind11::detail {

template <>
struct type_caster<quiral::vek::ParamVariant> : variant_caster<quiral::vek::ParamVariant> {
  bool load(handle src, bool convert) {
    RefuseWideInteger(src);
    if (PySequence_Check(src.ptr()) && !PyUnicode_Check(src.ptr()) && !PyBytes_Check(src.ptr())) {
      for (handle item : reinterpret_borrow<sequence>(src)) RefuseWideInteger(item);
    }
    return variant_caster::load(src, convert);
  }

 private:
  // An int, or an object with __index__, whose value an int cannot hold.
  static void RefuseWideInteger(handle value) {
    if (!PyIndex_Check(value.ptr())) return;
    const object index = reinterpret_steal<object>(PyNumber_Index(value.ptr()));
    if (!index) throw error_already_set();
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (number == -1 && PyErr_Occurred()) throw error_already_set();
    if (overflow == 0 && number >= std::numeric_limits<int>::min() &&
        number <= std::numeric_limits<int>::max()) {
      return;
    }
    throw std::overflow_error("[quiral::vek::ParamVariant] Integer [" +
                              static_cast<std::string>(str(index)) +
                              "] does not fit the 32-bit integer of a parameter value; pass a "
                              "float for a real number");
  }
};

}  // namespace pybind11::detail
