// The parameter blocks a host hands to Start.
#include <cstring>
#include <new>

#include "env/product_info.h"
#include "platform/text.h"
#include "statrelay/statrelay.h"

namespace {

const SRCHAR kEmpty[] = {0};

// A heap copy of text (null = empty). Never null: when memory runs out the
// shared empty text stands in (it is never freed).
SRCHAR* CopyText(const SRCHAR* text, size_t length) {
  SRCHAR* copy = new (std::nothrow) SRCHAR[length + 1];
  if (copy == nullptr) return const_cast<SRCHAR*>(kEmpty);
  if (length != 0) std::memcpy(copy, text, length * sizeof(SRCHAR));
  copy[length] = 0;
  return copy;
}

SRCHAR* CopyText(const SRCHAR* text) { return CopyText(text, text::Length(text)); }

void FreeText(SRCHAR* text) {
  if (text != kEmpty) delete[] text;
}

void ReplaceText(SRCHAR** field, const SrString& text) {
  SRCHAR* copy = CopyText(text.c_str(), text.size());
  FreeText(*field);
  *field = copy;
}

}  // namespace

ParamBase::ParamBase(const SRCHAR* report_url) : report_url_(CopyText(report_url)) {}

ParamBase::~ParamBase() { FreeText(report_url_); }

void ParamBase::SetReportUrlText(const SRCHAR* text) {
  SRCHAR* copy = CopyText(text);
  FreeText(report_url_);
  report_url_ = copy;
}

CPCFParam::CPCFParam(const SRCHAR* version, const SRCHAR* channel, const SRCHAR* report_url)
    : ParamBase(report_url), version_(CopyText(version)), channel_(CopyText(channel)) {
  // Every empty text is filled from the installation, in this order.
  if (version_[0] == 0) ReplaceText(&version_, env::DefaultVersion());
  if (channel_[0] == 0) ReplaceText(&channel_, env::DefaultChannel());
  if (ReportUrl()[0] == 0) SetReportUrlText(env::DefaultReportUrl().c_str());
}

CPCFParam::~CPCFParam() {
  FreeText(version_);
  FreeText(channel_);
}
