#include "pcf/record_writer.h"

void AppendTextRecord(const SrString& text, std::vector<uint8_t>* out) {
  const size_t at = out->size();
  out->resize(at + TextRecordBytes(text.size()));
  Writer writer(out->data() + at);
  WriteTextRecord(text, &writer);
}

std::vector<platform::ByteRun> RunWriter::Runs() {
  Close();
  std::vector<platform::ByteRun> runs;
  runs.reserve(pieces_.size());
  for (const Piece& p : pieces_) {
    runs.push_back({p.data != nullptr ? p.data : staged_.data() + p.offset, p.size});
  }
  return runs;
}

void RunWriter::Stored(const void* data, size_t size) {
  if (size < kMinStoredRun) {
    const auto* p = static_cast<const uint8_t*>(data);
    staged_.insert(staged_.end(), p, p + size);
    return;
  }
  Close();
  pieces_.push_back({data, 0, static_cast<uint32_t>(size)});
}

void RunWriter::Close() {
  if (staged_.size() > open_from_) {
    pieces_.push_back({nullptr, open_from_, static_cast<uint32_t>(staged_.size() - open_from_)});
    open_from_ = staged_.size();
  }
}
