// decimal.Decimal objects made from digits and a scale.
#pragma once

#include <Python.h>

#include <cstdint>

namespace quillbox {
namespace python {

// Built once at import (MakeDecimals), so that no thread builds it while holding the
// interpreter lock that another thread waits for.
class DecimalMaker {
public:
    // The Decimal of `negative` `magnitude` over 10^`scale`; a new reference, or null
    // with the Python error set.
    virtual PyObject* Make(bool negative, uint64_t magnitude, int scale) = 0;
    // The Decimal of a str (digits beyond what Make takes); a new reference, or null.
    virtual PyObject* FromText(PyObject* text) = 0;
    // Whether Decimals are filled in directly rather than by the constructor.
    virtual bool Direct() const = 0;
    virtual ~DecimalMaker() = default;
};

// Makes the maker (at import; QUILLBOX_DECIMAL_CONSTRUCTOR=1 in the environment makes
// every Decimal by its constructor).
void MakeDecimals();
DecimalMaker& Decimals();

}  // namespace python
}  // namespace quillbox
