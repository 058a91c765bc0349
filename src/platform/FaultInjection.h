// A seam for tests: file operations of the platform layer fail with a chosen errno at a chosen
// call, so that a full disk, a read-only folder or a failing medium can be reproduced anywhere,
// also as root (who is never refused by permissions).
#pragma once

#include <string>
#include <string_view>

namespace orvex {

enum class FileOperation { Write, Rename, Remove, Read };

struct FileFault {
  FileOperation operation = FileOperation::Write;
  int firstCall = 1;         // the Nth matching call (counted from 1) is the first to fail
  int failingCalls = 1;      // how many matching calls fail from there on; 0: every one
  int errorNumber = 0;       // the errno they fail with
  std::string pathContains;  // only calls on paths holding this count ("" matches every path)
};

// Adds a fault; faults are independent and each counts its own matching calls.
void InjectFileFault(const FileFault& fault);
void ClearFileFaults();

// Reads faults from the environment variable ORVEX_FILE_FAULTS, so that a test can make the real
// program meet a full disk: entries separated by ";", each
// "operation:firstCall:failingCalls:errno-name[:path-part]", e.g. "write:1:0:ENOSPC:/Outbox/".
// Returns false (and injects nothing) when the text cannot be read.
bool LoadFileFaultsFromEnvironment();

// Called by the platform's file helpers before they act: the errno to fail with, or 0.
int TakeFileFault(FileOperation operation, std::string_view path);

}  // namespace orvex
