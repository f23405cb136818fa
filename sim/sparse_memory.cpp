#include "sim/sparse_memory.h"

#include <algorithm>

namespace fwl {

namespace {

// Calls fn(pageIndex, offsetInPage, doneSoFar, count) for each piece of the
// range that lies inside one page; stops early when fn returns false.
template <typename Fn>
bool ForEachPagePiece(quint64 offset, quint64 length, quint64 pageSize, Fn fn) {
  quint64 done = 0;
  while (done < length) {
    const quint64 at = offset + done;
    const quint64 inPage = at % pageSize;
    const quint64 n = std::min(pageSize - inPage, length - done);
    if (!fn(at / pageSize, inPage, done, n)) return false;
    done += n;
  }
  return true;
}

}  // namespace

QByteArray& SparseMemory::PageFor(quint64 index) {
  auto it = pages_.find(index);
  if (it == pages_.end()) it = pages_.insert(index, QByteArray(qsizetype(kPage), blank_));
  return it.value();
}

QByteArray SparseMemory::Read(quint64 offset, quint64 length) const {
  QByteArray out(qsizetype(length), blank_);
  ForEachPagePiece(offset, length, kPage,
                   [&](quint64 page, quint64 inPage, quint64 done, quint64 n) {
                     auto it = pages_.constFind(page);
                     if (it != pages_.constEnd())
                       std::copy_n(it->constData() + inPage, n, out.data() + done);
                     return true;
                   });
  return out;
}

void SparseMemory::Write(quint64 offset, const QByteArray& data) {
  ForEachPagePiece(offset, quint64(data.size()), kPage,
                   [&](quint64 page, quint64 inPage, quint64 done, quint64 n) {
                     std::copy_n(data.constData() + done, n, PageFor(page).data() + inPage);
                     return true;
                   });
}

void SparseMemory::AndWrite(quint64 offset, const QByteArray& data) {
  ForEachPagePiece(offset, quint64(data.size()), kPage,
                   [&](quint64 page, quint64 inPage, quint64 done, quint64 n) {
                     char* target = PageFor(page).data() + inPage;
                     const char* source = data.constData() + done;
                     for (quint64 i = 0; i < n; ++i) target[i] = char(target[i] & source[i]);
                     return true;
                   });
}

void SparseMemory::Fill(quint64 offset, quint64 length, char value) {
  ForEachPagePiece(offset, length, kPage, [&](quint64 page, quint64 inPage, quint64, quint64 n) {
    if (value == blank_ && inPage == 0 && n == kPage) {
      pages_.remove(page);  // keeps erased flash and cleared RAM cheap
    } else {
      std::fill_n(PageFor(page).data() + inPage, n, value);
    }
    return true;
  });
}

bool SparseMemory::IsBlank(quint64 offset, quint64 length) const {
  return ForEachPagePiece(offset, length, kPage,
                          [&](quint64 page, quint64 inPage, quint64, quint64 n) {
                            auto it = pages_.constFind(page);
                            if (it == pages_.constEnd()) return true;
                            const char* p = it->constData() + inPage;
                            return std::none_of(p, p + n, [this](char c) { return c != blank_; });
                          });
}

}  // namespace fwl
