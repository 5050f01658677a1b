// Reads what the process's logger writes while a test runs.
#pragma once

#include <string>
#include <vector>

class LogCapture {
 public:
  // Remembers how far the process's log file has been written.
  LogCapture();
  // Waits until everything logged so far is in the file and returns the
  // lines written since construction (without line ends).
  std::vector<std::string> Lines() const;
  // The text part of each line: what follows the "] " that ends the header.
  std::vector<std::string> Texts() const;

 private:
  size_t start_ = 0;
};
