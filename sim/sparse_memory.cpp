#include "sim/sparse_memory.h"

#include <algorithm>

namespace fwl {

QByteArray& SparseMemory::PageFor(quint64 index) {
  auto it = pages_.find(index);
  if (it == pages_.end()) it = pages_.insert(index, QByteArray(qsizetype(kPage), blank_));
  return it.value();
}

QByteArray SparseMemory::Read(quint64 offset, quint64 length) const {
  QByteArray out(qsizetype(length), blank_);
  quint64 done = 0;
  while (done < length) {
    const quint64 at = offset + done;
    const quint64 inPage = at % kPage;
    const quint64 n = std::min(kPage - inPage, length - done);
    auto it = pages_.constFind(at / kPage);
    if (it != pages_.constEnd()) std::copy_n(it->constData() + inPage, n, out.data() + done);
    done += n;
  }
  return out;
}

void SparseMemory::Write(quint64 offset, const QByteArray& data) {
  quint64 done = 0;
  const quint64 length = quint64(data.size());
  while (done < length) {
    const quint64 at = offset + done;
    const quint64 inPage = at % kPage;
    const quint64 n = std::min(kPage - inPage, length - done);
    std::copy_n(data.constData() + done, n, PageFor(at / kPage).data() + inPage);
    done += n;
  }
}

void SparseMemory::AndWrite(quint64 offset, const QByteArray& data) {
  quint64 done = 0;
  const quint64 length = quint64(data.size());
  while (done < length) {
    const quint64 at = offset + done;
    const quint64 inPage = at % kPage;
    const quint64 n = std::min(kPage - inPage, length - done);
    char* page = PageFor(at / kPage).data() + inPage;
    for (quint64 i = 0; i < n; ++i) page[i] = char(page[i] & data[qsizetype(done + i)]);
    done += n;
  }
}

void SparseMemory::Fill(quint64 offset, quint64 length, char value) {
  quint64 done = 0;
  while (done < length) {
    const quint64 at = offset + done;
    const quint64 inPage = at % kPage;
    const quint64 n = std::min(kPage - inPage, length - done);
    if (value == blank_ && inPage == 0 && n == kPage) {
      pages_.remove(at / kPage);  // keeps erased flash and cleared RAM cheap
    } else {
      std::fill_n(PageFor(at / kPage).data() + inPage, n, value);
    }
    done += n;
  }
}

bool SparseMemory::IsBlank(quint64 offset, quint64 length) const {
  quint64 done = 0;
  while (done < length) {
    const quint64 at = offset + done;
    const quint64 inPage = at % kPage;
    const quint64 n = std::min(kPage - inPage, length - done);
    auto it = pages_.constFind(at / kPage);
    if (it != pages_.constEnd()) {
      const char* p = it->constData() + inPage;
      if (std::any_of(p, p + n, [this](char c) { return c != blank_; })) return false;
    }
    done += n;
  }
  return true;
}

}  // namespace fwl
