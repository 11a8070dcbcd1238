#include "viewer/Mosaic.h"

#include <algorithm>
#include <utility>

namespace kestrane {

namespace {
// The largest thumbnail: a tile decoded at 1/8.
constexpr int kMaxThumb = kViewTileSize >> kMaxDecodeLevel;
} // namespace

Mosaic::Mosaic(int64_t columns, int64_t rows, int maxSide)
    : columns_(columns), rows_(rows) {
  const int64_t longest = std::max(columns, rows);
  thumb_ = kMaxThumb;
  while (thumb_ > 1 && longest * thumb_ > maxSide)
    thumb_ /= 2;
  while (longest > step_ * maxSide)
    step_ *= 2;
  image_.Width = static_cast<int>((columns + step_ - 1) / step_ * thumb_);
  image_.Height = static_cast<int>((rows + step_ - 1) / step_ * thumb_);
  image_.Data.assign(static_cast<size_t>(image_.Width) * image_.Height,
                     palette::kNotLoaded);
}

void Mosaic::Put(int64_t column, int64_t row, const Pixels &thumb) {
  if (!Samples(column, row) || thumb.Width != thumb_ || thumb.Height != thumb_)
    return;
  const int64_t x0 = column / step_ * thumb_, y0 = row / step_ * thumb_;
  for (int y = 0; y < thumb_; ++y)
    std::copy_n(thumb.Data.begin() + static_cast<ptrdiff_t>(y) * thumb_, thumb_,
                image_.Data.begin() +
                    static_cast<ptrdiff_t>((y0 + y) * image_.Width + x0));
}

void Mosaic::Reset(int64_t column, int64_t row, uint32_t colour) {
  if (!Samples(column, row))
    return;
  const int64_t x0 = column / step_ * thumb_, y0 = row / step_ * thumb_;
  for (int y = 0; y < thumb_; ++y)
    std::fill_n(image_.Data.begin() +
                    static_cast<ptrdiff_t>((y0 + y) * image_.Width + x0),
                thumb_, colour);
}

Pixels MosaicThumb(const Pixels &decoded, int thumbSize) {
  return Shrink(decoded, thumbSize);
}

MosaicFill::MosaicFill(int64_t columns, int64_t rows, int64_t step,
                       std::function<bool(int64_t)> outside)
    : columns_(columns), rows_(rows), step_(step),
      outside_(std::move(outside)) {}

void MosaicFill::SetProblems(std::shared_ptr<const ProblemMap> problems) {
  std::lock_guard lock(mutex_);
  problems_ = std::move(problems);
}

void MosaicFill::Add(const std::vector<int64_t> &cells) {
  std::lock_guard lock(mutex_);
  again_.insert(again_.end(), cells.begin(), cells.end());
}

bool MosaicFill::HasPicture(int64_t cell) const {
  if (outside_ && outside_(cell))
    return false;
  const CellMark *m = problems_->Find(cell);
  return m == nullptr || m->State == TileState::Stored ||
         m->State == TileState::Placeholder;
}

bool MosaicFill::Next(int64_t &cell) {
  std::lock_guard lock(mutex_);
  if (!problems_)
    return false;
  while (!again_.empty()) {
    cell = again_.back();
    again_.pop_back();
    if (cell % columns_ % step_ == 0 && cell / columns_ % step_ == 0 &&
        HasPicture(cell))
      return true;
  }
  while (row_ < rows_) {
    cell = row_ * columns_ + column_;
    column_ += step_;
    if (column_ >= columns_) {
      column_ = 0;
      row_ += step_;
    }
    ++walked_;
    if (HasPicture(cell))
      return true;
  }
  return false;
}

int64_t MosaicFill::Walked() const {
  std::lock_guard lock(mutex_);
  return walked_;
}

bool MosaicFill::Done() const {
  std::lock_guard lock(mutex_);
  return problems_ && again_.empty() && row_ >= rows_;
}

} // namespace kestrane
