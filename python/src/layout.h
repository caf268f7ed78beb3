// quillbox._core.Layout: a copybook's layout analysed by the engine, its items and
// table columns, and its CREATE TABLE text.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common.h"

namespace quillbox {
namespace python {

class PyLayout {
public:
    // Analyses the copybook at `path`.
    PyLayout(const std::string& path, bool cobol, const std::vector<std::string>& include,
             const std::vector<std::pair<std::string, std::string>>& replace, int pointerSize, bool freeFormat);
    const Layout& Get() const { return *layout_; }
    int RecordLength() const { return layout_->RecordLength(); }
    py::list Items() const;
    // The table columns of the codec's plan under `options` (redefines, serial_no,
    // no_filler, names).
    py::list Columns(const py::dict& given) const;
    // For each column of `plan`, whether a record may lack it (an occurrence of an
    // OCCURS DEPENDING ON table past the table's minimum): its integers may be null.
    std::vector<bool> Optional(const LayoutPlan& plan) const;
    std::string Ddl(const std::string& table, bool serialNo, bool quoteNames, const std::string& dialectName,
                    bool noFiller, const std::string& names) const;
    // The files the analysis read: the copybook, then its COPY members (each once).
    std::vector<std::string> Sources() const;

private:
    LayoutOptions options_;
    std::unique_ptr<Layout> layout_;
};

void BindLayout(py::module_& m);

}  // namespace python
}  // namespace quillbox
