// CopyRecord: reads and writes the records of a data file laid out by a copybook.
#ifndef COBCPY_COPYRECORD_H
#define COBCPY_COPYRECORD_H

#include <cstdint>
#include <cstdio>

class CopyAnalyzer;
struct CopyItem;

#endif
