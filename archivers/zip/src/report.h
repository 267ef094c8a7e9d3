// The result of one library call: the first failure's code and a text for the output buffer.
#pragma once

#include <cstdint>
#include <string>

#include "tavrun_zip_codes.h"

namespace tavrun::zip {

class Report {
 public:
  // Keeps the first failure's code; every reason is appended to the text.
  void Fail(int32_t code, const std::string& reason) {
    if (code_ == TAVRUN_ZIP_OK) code_ = code;
    Line(reason);
  }
  void Line(const std::string& text) {
    if (!text_.empty()) text_ += '\n';
    text_ += text;
  }
  int32_t code() const { return code_; }
  bool ok() const { return code_ == TAVRUN_ZIP_OK; }
  const std::string& text() const { return text_; }

 private:
  int32_t code_ = TAVRUN_ZIP_OK;
  std::string text_;
};

}  // namespace tavrun::zip
