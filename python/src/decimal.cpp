// The maker of decimal.Decimal objects (decimal.h).
#include "decimal.h"

#include <pybind11/pybind11.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "valuecodec.h"

namespace py = pybind11;

namespace quillbox {
namespace python {

namespace {

// decimal.Decimal objects made from digits and a scale. CPython's decimal module keeps a
// value as libmpdec's number in the object itself (four words of 19 digits each, held
// in place); where the interpreter's Decimal has that form, checked on values made by
// Decimal itself when the module loads, a Decimal is filled in directly, as its own
// constructor would fill it. Anywhere else (or when asked) the constructor is called
// with the text.
class Maker : public DecimalMaker {
public:
    explicit Maker(bool byConstructor) : type_(py::module_::import("decimal").attr("Decimal")) {
        direct_ = !byConstructor && Probe("-1234.56", true, -2, 6, 123456, 0) &&
                  Probe("12345678901234567890", false, 0, 20, 2345678901234567890ull, 1) &&
                  Probe("0.000", false, -3, 1, 0, 0) && Probe("7", false, 0, 1, 7, 0);
    }
    PyObject* Make(bool negative, uint64_t magnitude, int scale) override {
        if (!direct_) {
            std::string text;
            AppendDecimal(text, negative, magnitude, scale);
            py::str value(text);
            return FromText(value.ptr());
        }
        PyTypeObject* type = reinterpret_cast<PyTypeObject*>(type_.ptr());
        DecObject* object = PyObject_New(DecObject, type);
        if (object == nullptr) return nullptr;
        object->hash = -1;
        object->dec.flags = kStatic | kStaticData | (negative && magnitude != 0 ? kNegative : 0);
        object->dec.exp = -scale;
        object->dec.digits = DigitsOf(magnitude);
        object->dec.len = magnitude >= kRadix ? 2 : 1;
        object->dec.alloc = kWords;
        object->dec.data = object->data;
        object->data[0] = magnitude % kRadix;
        object->data[1] = magnitude / kRadix;
        return reinterpret_cast<PyObject*>(object);
    }
    PyObject* FromText(PyObject* text) override { return PyObject_CallOneArg(type_.ptr(), text); }
    bool Direct() const override { return direct_; }

private:
    // libmpdec's number (mpd_t) and CPython's Decimal object on a 64-bit machine.
    struct Mpd {
        uint8_t flags;
        int64_t exp, digits, len, alloc;
        uint64_t* data;
    };
    static constexpr int kWords = 4;
    struct DecObject {
        PyObject_HEAD
        Py_hash_t hash;
        Mpd dec;
        uint64_t data[kWords];
    };
    static constexpr uint8_t kNegative = 1, kStatic = 16, kStaticData = 32;
    static constexpr uint64_t kRadix = 10000000000000000000ull;   // 10^19, a word's digits

    static int64_t DigitsOf(uint64_t v) {
        int64_t digits = 1;
        while (v >= 10) {
            v /= 10;
            ++digits;
        }
        return digits;
    }
    // Whether Decimal(`text`) holds what Make would put in it.
    bool Probe(const char* text, bool negative, int64_t exp, int64_t digits, uint64_t low, uint64_t high) const {
        if (sizeof(void*) != 8) return false;
        PyTypeObject* type = reinterpret_cast<PyTypeObject*>(type_.ptr());
        // An object the garbage collector tracks has its header in front of it, which
        // PyObject_New does not make: such a Decimal is made by its constructor.
        if (type->tp_basicsize != static_cast<Py_ssize_t>(sizeof(DecObject)) || type->tp_itemsize != 0 ||
            (type->tp_flags & Py_TPFLAGS_HAVE_GC) != 0) {
            return false;
        }
        py::object value = type_(py::str(text));
        const DecObject* object = reinterpret_cast<const DecObject*>(value.ptr());
        const Mpd& d = object->dec;
        return object->hash == -1 && d.flags == (kStatic | kStaticData | (negative ? kNegative : 0)) && d.exp == exp &&
               d.digits == digits && d.len == (high != 0 ? 2 : 1) && d.alloc == kWords && d.data == object->data &&
               object->data[0] == low && (high == 0 || object->data[1] == high);
    }

    py::object type_;
    bool direct_ = false;
};

DecimalMaker* maker = nullptr;

}  // namespace

void MakeDecimals() {
    if (maker != nullptr) return;
    const char* setting = std::getenv("QUILLBOX_DECIMAL_CONSTRUCTOR");
    maker = new Maker(setting != nullptr && std::strcmp(setting, "1") == 0);   // lives as long as the process
}

DecimalMaker& Decimals() { return *maker; }

}  // namespace python
}  // namespace quillbox
