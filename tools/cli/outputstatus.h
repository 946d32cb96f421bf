#pragma once

#include <QString>

#include <cstdio>

// Whether everything written to standard output reached it. Writes that fail (a reader that went away, a full
// disk) never stop the run on the chip; the tool tells of them at its end instead, and exits non-zero.

// Notes a write to stream that failed with errno error; the first failure on standard output is kept.
// reported: the caller has told the user already (and set its exit code), so the end says nothing more.
void noteOutputFailure(std::FILE* stream, int error, bool reported = false);

// Flushes standard output: empty when everything written to it arrived (or its failure was reported), else
// the reason ("Broken pipe").
QString standardOutputFailure();
