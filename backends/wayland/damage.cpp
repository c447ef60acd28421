// The damage a buffer has missed, from the frames presented since it was last drawn, and the
// point-by-point update that brings a buffer up to date from the tick's lists.
#include "backends/wayland/damage.h"

#include <cstring>

#include "core/convert.h"

void RecordDamage(DamageHistory* history, const platform::FrameDamage& damage, Colour colour0, Colour colour1) {
    history->last[1] = history->last[0];
    history->last[0] = damage;
    for (int i = DamageHistory::Depth - 1; i > 0; --i) history->points[i] = history->points[i - 1];
    FramePoints& p = history->points[0];
    p = FramePoints{};
    p.whole = damage.whole || damage.count < 0 || damage.count > platform::FrameDamage::MaxRects;
    if (!p.whole) {
        p.cleared = damage.clearedCount > 0 ? damage.cleared : nullptr;
        p.clearedCount = p.cleared != nullptr ? damage.clearedCount : 0;
        p.plotted = damage.plottedCount > 0 ? damage.plotted : nullptr;
        p.plottedCount = p.plotted != nullptr ? damage.plottedCount : 0;
    }
    p.colour0 = colour0;
    p.colour1 = colour1;
    ++history->frame;
}

bool ChangesNothing(const platform::FrameDamage& damage) { return !damage.whole && damage.count == 0; }

bool DamageSince(const DamageHistory& history, std::uint64_t held, platform::Rect* rects, int* count) {
    *count = 0;
    if (held == 0 || held > history.frame) return false;
    const std::uint64_t behind = history.frame - held;
    if (behind > 2) return false;
    for (std::uint64_t i = 0; i < behind; ++i) {
        const platform::FrameDamage& damage = history.last[i];
        if (damage.whole || damage.count < 0 || damage.count > platform::FrameDamage::MaxRects) return false;
        for (int r = 0; r < damage.count; ++r) rects[(*count)++] = damage.rects[r];
    }
    return true;
}

bool PlaceRect(platform::Rect rect, std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
               platform::Rect* out) {
    const std::int64_t left = static_cast<std::int64_t>(rect.left) + dx, right = static_cast<std::int64_t>(rect.right) + dx;
    const std::int64_t top = static_cast<std::int64_t>(rect.top) + dy, bottom = static_cast<std::int64_t>(rect.bottom) + dy;
    out->left = static_cast<std::int32_t>(left < 0 ? 0 : left);
    out->top = static_cast<std::int32_t>(top < 0 ? 0 : top);
    out->right = static_cast<std::int32_t>(right > width ? width : right);
    out->bottom = static_cast<std::int32_t>(bottom > height ? height : bottom);
    return out->left < out->right && out->top < out->bottom;
}

// --- Point by point ---

bool SameLayout(const PointLayout& a, const PointLayout& b) {
    return a.width == b.width && a.height == b.height && a.dx == b.dx && a.dy == b.dy && a.top == b.top &&
           a.imageWidth == b.imageWidth && a.imageHeight == b.imageHeight;
}

namespace {

struct ListId {
    std::uint64_t frame;
    const ScreenPoint* from;
    std::int32_t count;
};

bool Holds(const KeptPoints& kept, const ListId& id, const PointLayout& layout) {
    return kept.frame != 0 && kept.frame == id.frame && kept.from == id.from && kept.fromCount == id.count &&
           SameLayout(kept.layout, layout);
}

const KeptPoints* Find(const ListId& id, const KeptPoints& own, const KeptPoints* const* others, int otherCount,
                       const PointLayout& layout) {
    if (Holds(own, id, layout)) return &own;
    for (int i = 0; i < otherCount; ++i) {
        if (others[i] != nullptr && Holds(*others[i], id, layout)) return others[i];
    }
    return nullptr;
}

}  // namespace

bool PlanPoints(const DamageHistory& history, std::uint64_t held, const KeptPoints& own, const KeptPoints* const* others,
                int otherCount, const PointLayout& layout, PointPlan* plan) {
    *plan = PointPlan{};
    const std::uint64_t newest = history.frame;
    if (held == 0 || held > newest || newest - held > static_cast<std::uint64_t>(DamageHistory::Depth - 1)) return false;
    // Packed positions hold 16 bits a coordinate.
    if (layout.width <= 0 || layout.height <= 0 || layout.width > 65535 || layout.height > 65535) return false;
    const Colour colour0 = history.points[newest - held].colour0;
    // The latest plotted list as of the held frame: the one the buffer kept, when it kept one.
    ListId current = {own.frame, own.from, own.fromCount};
    bool known = own.frame != 0 && own.frame <= held && SameLayout(own.layout, layout);
    bool plottedSince = false;
    bool blank = false;            // the buffer's image is blank: clears write nothing new
    bool drawn = false;            // a plot step has been taken
    bool plottedOnBlank = false;   // the last plot step drew on a blank image
    std::uint64_t lastDrawn = 0;   // the frame of the last plot step
    for (std::uint64_t frame = held + 1; frame <= newest; ++frame) {
        const FramePoints& f = history.points[newest - frame];
        if (f.whole || f.colour0 != colour0) return false;
        const platform::FrameDamage& rects = history.last[newest - frame];
        for (int r = 0; r < rects.count; ++r) plan->strip = plan->strip || (rects.rects[r].top < layout.top &&
                                                                              rects.rects[r].bottom > 0);
        if (f.clearedCount > 0 && blank) {
            // Nothing is lit: the clear changes no pixel here, but its points are still changes
            // since the commit before, for the damage.
            PointStep step = {PointStep::MarkNewest, nullptr, colour0, frame};
            if (frame != newest) {
                step.kind = PointStep::MarkKept;
                step.kept = known && f.cleared == current.from && f.clearedCount == current.count
                                ? Find(current, own, others, otherCount, layout)
                                : nullptr;
            }
            if (step.kind == PointStep::MarkKept && step.kept == nullptr) plan->unmarked = frame;
            else plan->steps[plan->count++] = step;
        } else if (f.clearedCount > 0 && own.exact && !drawn && known && current.frame == own.frame &&
                   f.cleared == own.from && f.clearedCount == own.fromCount && Holds(own, current, layout)) {
            // The buffer's own points cleared: its image is blank.
            plan->steps[plan->count++] = {PointStep::ClearKept, &own, colour0, frame};
            plan->points += own.count;
            blank = true;
        } else if (f.clearedCount > 0) {
            PointStep step = {PointStep::ClearNewest, nullptr, colour0, frame};
            if (frame != newest) {
                // An older frame's cleared list: the plotted list before it, as some buffer kept it.
                if (!known || f.cleared != current.from || f.clearedCount != current.count) return false;
                step.kind = PointStep::ClearKept;
                step.kept = Find(current, own, others, otherCount, layout);
                if (step.kept == nullptr) return false;
            }
            plan->steps[plan->count++] = step;
            plan->points += f.clearedCount;
        }
        if (f.plottedCount > 0) {
            const ListId id = {frame, f.plotted, f.plottedCount};
            // Plotted and cleared again by the next frame: its pixels end where the clear puts them.
            const FramePoints* next = frame != newest ? &history.points[newest - frame - 1] : nullptr;
            const bool undone = next != nullptr && !next->whole && next->cleared == f.plotted &&
                                next->clearedCount == f.plottedCount;
            if (!undone) {
                PointStep step = {PointStep::PlotNewest, nullptr, f.colour1, frame};
                if (frame != newest) {
                    step.kind = PointStep::PlotKept;
                    step.kept = Find(id, own, others, otherCount, layout);
                    if (step.kept == nullptr) return false;
                }
                plan->steps[plan->count++] = step;
                plan->points += f.plottedCount;
                plottedOnBlank = blank;
                blank = false;
                drawn = true;
                lastDrawn = frame;
            }
            current = id;
            known = true;
            plottedSince = true;
        }
    }
    if (!plottedSince) {
        plan->keepOwn = true;
        plan->exact = own.exact;  // clears only take lit pixels away
    } else if (current.frame != newest) {
        plan->carry = Find(current, own, others, otherCount, layout);
    } else {
        // Only the newest list drawn on a blank image: it is every lit pixel.
        plan->exact = drawn && lastDrawn == newest && plottedOnBlank;
    }
    return true;
}

void ClearCells(DamageCells* cells) {
    if (cells->marks != nullptr && cells->marked != 0)
        std::memset(cells->marks, 0, static_cast<std::size_t>(cells->columns) * static_cast<std::size_t>(cells->rows));
    cells->marked = 0;
}

namespace {

// How many points ahead the write of a pixel is announced: the writes go all over a picture
// larger than the caches, and announced they wait for their cache lines together.
constexpr std::int32_t Ahead = 16;

void MarkCell(DamageCells* cells, std::uint32_t row, std::uint32_t column) {
    cells->marks[(row >> DamageCells::Shift) * static_cast<std::uint32_t>(cells->columns) + (column >> DamageCells::Shift)] = 1;
}

// The image points of a list written into the buffer, each where the layout puts it; their packed
// positions kept in `keep` when not null (up to `capacity`). The pixels written.
std::int32_t WriteList(const ScreenPoint* points, std::int32_t count, std::uint32_t value, std::uint32_t* pixels,
                       const PointLayout& layout, DamageCells* cells, std::uint32_t* keep, std::int32_t capacity,
                       bool* fitted) {
    const auto width = static_cast<std::uint32_t>(layout.width), height = static_cast<std::uint32_t>(layout.height);
    const auto imageWidth = static_cast<std::uint32_t>(layout.imageWidth);
    const auto imageHeight = static_cast<std::uint32_t>(layout.imageHeight);
    // Image row y is window row top + imageHeight - 1 - y, buffer row that + dy.
    const std::int32_t rowBase = layout.top + layout.imageHeight - 1 + layout.dy;
    std::int32_t written = 0;
    const std::int64_t rowPixels = static_cast<std::int64_t>(width);
    const std::int64_t origin = static_cast<std::int64_t>(rowBase) * rowPixels + layout.dx;
    const auto base = reinterpret_cast<std::uintptr_t>(pixels);
    for (std::int32_t i = 0; i < count; ++i) {
        if (i + Ahead < count) {
            // Only announced, never written unchecked: a point outside the picture costs nothing.
            // The address is reckoned in integers, as it may lie anywhere.
            const ScreenPoint q = points[i + Ahead];
            const std::int64_t at = origin - static_cast<std::int64_t>(q.y) * rowPixels + q.x;
            __builtin_prefetch(reinterpret_cast<const void*>(base + static_cast<std::uintptr_t>(at) * sizeof *pixels), 1, 0);
        }
        const ScreenPoint p = points[i];
        // Unsigned: a point far outside wraps, and the bounds below drop it.
        const std::uint32_t row = static_cast<std::uint32_t>(rowBase) - static_cast<std::uint32_t>(p.y);
        const std::uint32_t column = static_cast<std::uint32_t>(p.x) + static_cast<std::uint32_t>(layout.dx);
        if (static_cast<std::uint32_t>(p.x) >= imageWidth || static_cast<std::uint32_t>(p.y) >= imageHeight ||
            row >= height || column >= width)
            continue;
        pixels[static_cast<std::size_t>(row) * width + column] = value;
        if (cells != nullptr) MarkCell(cells, row, column);
        if (keep != nullptr) {
            if (written < capacity) keep[written] = row << 16 | column;
            else *fitted = false;
        }
        ++written;
    }
    return written;
}

std::int32_t WriteKept(const KeptPoints& kept, std::uint32_t value, std::uint32_t* pixels, const PointLayout& layout,
                       DamageCells* cells) {
    const auto width = static_cast<std::size_t>(layout.width);
    for (std::int32_t i = 0; i < kept.count; ++i) {
        if (i + Ahead < kept.count) {
            const std::uint32_t q = kept.at[i + Ahead];
            __builtin_prefetch(pixels + (q >> 16) * width + (q & 0xFFFFu), 1, 0);
        }
        const std::uint32_t at = kept.at[i], row = at >> 16, column = at & 0xFFFFu;
        pixels[row * width + column] = value;
        if (cells != nullptr) MarkCell(cells, row, column);
    }
    return kept.count;
}

void MarkList(const ScreenPoint* points, std::int32_t count, const PointLayout& layout, DamageCells* cells) {
    const auto width = static_cast<std::uint32_t>(layout.width), height = static_cast<std::uint32_t>(layout.height);
    const std::int32_t rowBase = layout.top + layout.imageHeight - 1 + layout.dy;
    for (std::int32_t i = 0; i < count; ++i) {
        const ScreenPoint p = points[i];
        // Unsigned: a point far outside wraps, and the bounds below drop it.
        const std::uint32_t row = static_cast<std::uint32_t>(rowBase) - static_cast<std::uint32_t>(p.y);
        const std::uint32_t column = static_cast<std::uint32_t>(p.x) + static_cast<std::uint32_t>(layout.dx);
        if (static_cast<std::uint32_t>(p.x) < static_cast<std::uint32_t>(layout.imageWidth) &&
            static_cast<std::uint32_t>(p.y) < static_cast<std::uint32_t>(layout.imageHeight) && row < height && column < width)
            MarkCell(cells, row, column);
    }
}

void MarkKept(const KeptPoints& kept, DamageCells* cells) {
    for (std::int32_t i = 0; i < kept.count; ++i) MarkCell(cells, kept.at[i] >> 16, kept.at[i] & 0xFFFFu);
}

void Forget(KeptPoints* kept) {
    kept->exact = false;
    kept->frame = 0;
    kept->count = 0;
    kept->from = nullptr;
    kept->fromCount = 0;
}

}  // namespace

std::int64_t RunPointPlan(const PointPlan& plan, std::uint32_t* pixels, const PointLayout& layout,
                          const platform::FrameDamage& newest, std::uint64_t newestFrame, KeptPoints* own,
                          DamageCells* cells, std::uint64_t shown) {
    std::int64_t written = 0;
    bool keptNewest = false, fitted = true;
    std::int32_t keptCount = 0;
    for (int i = 0; i < plan.count; ++i) {
        const PointStep& step = plan.steps[i];
        DamageCells* mark = cells != nullptr && cells->marks != nullptr && step.frame > shown ? cells : nullptr;
        const std::uint32_t value = step.colour & 0xFFFFFFu;
        switch (step.kind) {
            case PointStep::ClearNewest:
                written += WriteList(newest.cleared, newest.clearedCount, value, pixels, layout, mark, nullptr, 0, &fitted);
                break;
            case PointStep::PlotNewest:
                keptCount = WriteList(newest.plotted, newest.plottedCount, value, pixels, layout, mark, own->at,
                                      own->capacity, &fitted);
                written += keptCount;
                keptNewest = true;
                break;
            case PointStep::ClearKept:
            case PointStep::PlotKept:
                written += WriteKept(*step.kept, value, pixels, layout, mark);
                break;
            case PointStep::MarkNewest:
                if (mark != nullptr) MarkList(newest.cleared, newest.clearedCount, layout, mark);
                break;
            case PointStep::MarkKept:
                if (mark != nullptr) MarkKept(*step.kept, mark);
                break;
        }
        if (mark != nullptr) mark->marked = 1;
    }
    if (keptNewest) {
        Forget(own);
        if (fitted) {
            own->frame = newestFrame;
            own->from = newest.plotted;
            own->fromCount = newest.plottedCount;
            own->count = keptCount;
            own->layout = layout;
            own->exact = plan.exact;
        }
    } else if (plan.carry != nullptr && plan.carry != own && plan.carry->count <= own->capacity) {
        std::memcpy(own->at, plan.carry->at, static_cast<std::size_t>(plan.carry->count) * sizeof *own->at);
        own->frame = plan.carry->frame;
        own->from = plan.carry->from;
        own->fromCount = plan.carry->fromCount;
        own->count = plan.carry->count;
        own->layout = plan.carry->layout;
        own->exact = false;
    } else if (plan.keepOwn) {
        own->exact = own->exact && plan.exact;
    } else if (plan.carry != own) {
        Forget(own);
    }
    return written;
}

void KeepNewest(const DamageHistory& history, const platform::FrameDamage& newest, const PointLayout& layout,
                KeptPoints* own) {
    Forget(own);
    const FramePoints& f = history.points[0];
    if (history.frame == 0 || f.whole || f.plottedCount <= 0 || own->at == nullptr || layout.width > 65535 ||
        layout.height > 65535)
        return;
    // Positions only: the buffer was drawn from rectangles.
    bool fitted = true;
    const auto width = static_cast<std::uint32_t>(layout.width), height = static_cast<std::uint32_t>(layout.height);
    const std::int32_t rowBase = layout.top + layout.imageHeight - 1 + layout.dy;
    std::int32_t count = 0;
    for (std::int32_t i = 0; i < newest.plottedCount; ++i) {
        const ScreenPoint p = newest.plotted[i];
        // Unsigned: a point far outside wraps, and the bounds below drop it.
        const std::uint32_t row = static_cast<std::uint32_t>(rowBase) - static_cast<std::uint32_t>(p.y);
        const std::uint32_t column = static_cast<std::uint32_t>(p.x) + static_cast<std::uint32_t>(layout.dx);
        if (static_cast<std::uint32_t>(p.x) >= static_cast<std::uint32_t>(layout.imageWidth) ||
            static_cast<std::uint32_t>(p.y) >= static_cast<std::uint32_t>(layout.imageHeight) || row >= height ||
            column >= width)
            continue;
        if (count == own->capacity) {
            fitted = false;
            break;
        }
        own->at[count++] = row << 16 | column;
    }
    if (!fitted) return;
    own->frame = history.frame;
    own->from = newest.plotted;
    own->fromCount = newest.plottedCount;
    own->count = count;
    own->layout = layout;
}

bool KeptHoldsEveryLitPixel(const KeptPoints& kept, std::uint32_t* pixels, const PointLayout& layout,
                            const FrameHeaderData& header, const std::uint8_t* bits, std::int32_t stride) {
    if (kept.frame == 0 || bits == nullptr || stride <= 0 || layout.dx < 0 || layout.dy < 0 ||
        layout.imageWidth != header.Width || layout.imageHeight != header.Height ||
        layout.dx + layout.imageWidth > layout.width || layout.dy + layout.top + layout.imageHeight > layout.height)
        return false;
    std::int64_t lit = 0;
    const auto rowBytes = static_cast<std::size_t>(layout.imageWidth);
    for (std::int32_t y = 0; y < layout.imageHeight; ++y) {
        const std::uint8_t* row = bits + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
        std::size_t x = 0;
        // Mostly black: eight bytes at a time.
        for (; x + 8 <= rowBytes; x += 8) {
            std::uint64_t word;
            std::memcpy(&word, row + x, 8);
            if (word == 0) continue;
            for (int i = 0; i < 8; ++i) lit += row[x + i] != 0 ? 1 : 0;
        }
        for (; x < rowBytes; ++x) lit += row[x] != 0 ? 1 : 0;
    }
    if (lit > kept.count) return false;
    const auto width = static_cast<std::size_t>(layout.width);
    constexpr std::uint32_t Mark = 0xFF000000u;
    std::int64_t distinct = 0;
    for (std::int32_t i = 0; i < kept.count; ++i) {
        std::uint32_t& pixel = pixels[(kept.at[i] >> 16) * width + (kept.at[i] & 0xFFFFu)];
        distinct += (pixel & Mark) == 0 ? 1 : 0;
        pixel |= Mark;
    }
    for (std::int32_t i = 0; i < kept.count; ++i) pixels[(kept.at[i] >> 16) * width + (kept.at[i] & 0xFFFFu)] &= ~Mark;
    // Every kept position is lit (the frame's last plot); as many of them as lit pixels: no other.
    return distinct == lit;
}

bool CellRects(const DamageCells& cells, std::int32_t width, std::int32_t height, int bands, platform::Rect* rects,
               int capacity, int* count) {
    *count = 0;
    if (cells.marks == nullptr || cells.rows <= 0 || cells.columns <= 0) return true;
    const std::int32_t bandRows = bands > 0 ? (cells.rows + bands - 1) / bands : 1;
    for (std::int32_t first = 0; first < cells.rows; first += bandRows) {
        const std::int32_t last = first + bandRows < cells.rows ? first + bandRows : cells.rows;
        // The band's marked columns, from the first to the last.
        std::int32_t from = cells.columns, to = -1;
        for (std::int32_t row = first; row < last; ++row) {
            const std::uint8_t* marks = cells.marks + static_cast<std::size_t>(row) * static_cast<std::size_t>(cells.columns);
            for (std::int32_t c = 0; c < from; ++c) {
                if (marks[c] != 0) {
                    from = c;
                    break;
                }
            }
            for (std::int32_t c = cells.columns - 1; c > to; --c) {
                if (marks[c] != 0) {
                    to = c;
                    break;
                }
            }
        }
        if (to < from) continue;
        const std::int32_t top = first * DamageCells::CellSize;
        const std::int32_t bottom = last * DamageCells::CellSize < height ? last * DamageCells::CellSize : height;
        const std::int32_t left = from * DamageCells::CellSize;
        const std::int32_t right = (to + 1) * DamageCells::CellSize < width ? (to + 1) * DamageCells::CellSize : width;
        if (left >= right || top >= bottom) continue;
        // The same columns as the band above: that rectangle grows down.
        if (*count > 0 && rects[*count - 1].left == left && rects[*count - 1].right == right &&
            rects[*count - 1].bottom == top) {
            rects[*count - 1].bottom = bottom;
            continue;
        }
        if (*count == capacity) return false;
        rects[(*count)++] = {left, top, right, bottom};
    }
    return true;
}

std::int64_t DamageCost(const platform::Rect* rects, int count) {
    std::int64_t cost = 0;
    for (int i = 0; i < count; ++i) {
        const std::int64_t w = rects[i].right - rects[i].left, h = rects[i].bottom - rects[i].top;
        if (w > 0 && h > 0) cost += w * h;
        cost += RectangleCost;
    }
    return cost;
}

// --- A buffer brought up to date ---

PointLayout LayoutFor(const FrameImage& frame, std::int32_t width, std::int32_t height) {
    const FrameHeaderData& header = *frame.header;
    PointLayout layout;
    layout.width = width;
    layout.height = height;
    layout.dx = (width - frame.windowWidth) / 2;
    layout.dy = (height - frame.windowHeight) / 2;
    layout.top = frame.top;
    layout.imageWidth = header.Width < frame.windowWidth ? (header.Width < 0 ? 0 : header.Width) : frame.windowWidth;
    layout.imageHeight = header.Height < 0 ? 0 : header.Height;
    // Image rows beyond the window are not shown: no points then, the rectangles do.
    if (frame.top + layout.imageHeight > frame.windowHeight) layout.width = 0;
    return layout;
}

void DrawInto(std::uint32_t* pixels, std::int32_t width, std::int32_t height, const platform::Rect& area,
              std::int32_t dx, std::int32_t dy, const FrameImage& frame) {
    const FrameHeaderData& header = *frame.header;
    const std::uint8_t* const bits = frame.bits;
    const std::int32_t stride = frame.stride, top = frame.top;
    // area: window pixels; the frame image covers window rows top to top + header.Height - 1.
    platform::Rect r;
    if (!PlaceRect(area, dx, dy, width, height, &r)) return;
    const std::size_t pitch = static_cast<std::size_t>(width);
    const std::int32_t imageRows = header.Height < 0 ? 0 : header.Height;
    const std::int32_t imageWidth = header.Width < 0 ? 0 : header.Width;
    // Rows of the rectangle outside the frame image (the strip, or beyond the image) are black.
    for (std::int32_t y = r.top; y < r.bottom; ++y) {
        const std::int32_t windowRow = y - dy;
        const std::int32_t imageRow = windowRow - top;
        std::uint32_t* line = pixels + static_cast<std::size_t>(y) * pitch;
        std::int32_t from = r.left;
        if (imageRow >= 0 && imageRow < imageRows && bits != nullptr) {
            const std::int32_t left = r.left - dx < 0 ? 0 : r.left - dx;
            const std::int32_t right = r.right - dx < imageWidth ? r.right - dx : imageWidth;
            if (left < right) {
                const std::uint32_t colours[2] = {header.Colours[0] & 0xFFFFFFu, header.Colours[1] & 0xFFFFFFu};
                ConvertFrameRows(bits + static_cast<std::size_t>(imageRows - 1 - imageRow) * static_cast<std::size_t>(stride) +
                                     static_cast<std::size_t>(left),
                                 static_cast<std::size_t>(stride), static_cast<std::size_t>(right - left), 1, colours,
                                 line + left + dx, pitch);
                // Only the columns beyond the image stay to be blackened.
                for (std::int32_t x = r.left; x < left + dx; ++x) line[x] = 0;
                from = right + dx;
            }
        }
        for (std::int32_t x = from; x < r.right; ++x) line[x] = 0;
    }
}

namespace {

std::int64_t Area(const platform::Rect& r) {
    return static_cast<std::int64_t>(r.right - r.left) * static_cast<std::int64_t>(r.bottom - r.top);
}

}  // namespace

BufferUpdate UpdateBuffer(const DamageHistory& history, const platform::FrameDamage& newest, const FrameImage& frame,
                          std::uint32_t* pixels, std::int32_t width, std::int32_t height, std::uint64_t held,
                          KeptPoints* own, const KeptPoints* other, DamageCells* cells, std::uint64_t shown) {
    BufferUpdate update;
    const PointLayout layout = LayoutFor(frame, width, height);
    const std::int32_t stripRows = frame.windowHeight < frame.top ? frame.windowHeight : frame.top;
    const platform::Rect window = {0, 0, frame.windowWidth, frame.windowHeight};
    const bool current = !ChangesNothing(newest);
    PointPlan plan;
    if (frame.bits != nullptr && current && PlanPoints(history, held, *own, &other, other != nullptr ? 1 : 0, layout, &plan)) {
        update.byPoints = true;
        update.points = RunPointPlan(plan, pixels, layout, newest, history.frame, own, cells, shown);
        update.cellsKnown = shown != 0 && shown >= held && shown >= plan.unmarked;
        if (plan.strip) {
            const platform::Rect strip = {0, 0, frame.windowWidth, stripRows};
            DrawInto(pixels, width, height, strip, layout.dx, layout.dy, frame);
            update.converted += Area(strip);
            update.strip = true;
        }
        return update;
    }
    platform::Rect rects[2 * platform::FrameDamage::MaxRects];
    int count = 0;
    if (DamageSince(history, held, rects, &count)) {
        for (int i = 0; i < count; ++i) {
            DrawInto(pixels, width, height, rects[i], layout.dx, layout.dy, frame);
            update.converted += Area(rects[i]);
        }
    } else {
        // Drawing the window writes each of its pixels; only a margin around it needs black.
        if (width != frame.windowWidth || height != frame.windowHeight)
            std::memset(pixels, 0, static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * sizeof *pixels);
        DrawInto(pixels, width, height, window, layout.dx, layout.dy, frame);
        update.converted += Area(window);
    }
    update.strip = true;
    if (current) KeepNewest(history, newest, layout, own);
    else Forget(own);
    own->exact = own->frame != 0 && KeptHoldsEveryLitPixel(*own, pixels, layout, *frame.header, frame.bits, frame.stride);
    return update;
}

const char* ChooseDamage(const DamageHistory& history, std::uint64_t shown, const DamageCells& cells, bool cellsKnown,
                         const FrameImage& frame, std::int32_t width, std::int32_t height, platform::Rect* rects,
                         int* count) {
    const std::int32_t dx = (width - frame.windowWidth) / 2, dy = (height - frame.windowHeight) / 2;
    const std::int32_t stripRows = frame.windowHeight < frame.top ? frame.windowHeight : frame.top;
    platform::Rect changed[2 * platform::FrameDamage::MaxRects];
    int changedCount = 0;
    *count = 0;
    if (!DamageSince(history, shown, changed, &changedCount)) {
        rects[(*count)++] = {0, 0, width, height};
        return "whole";
    }
    bool stripChanged = false;
    for (int i = 0; i < changedCount; ++i) {
        stripChanged = stripChanged || (changed[i].top < stripRows && changed[i].bottom > 0);
        if (PlaceRect(changed[i], dx, dy, width, height, &rects[*count])) ++*count;
    }
    if (!cellsKnown) return "box";
    // The bands after the box's rectangles; kept when they cost less.
    platform::Rect* bands = rects + *count;
    const int room = GivenDamageMax - *count - 1;
    int bandCount = 0;
    if (!CellRects(cells, width, height, DamageBands, bands, room, &bandCount)) return "box";
    if (stripChanged && PlaceRect({0, 0, frame.windowWidth, stripRows}, dx, dy, width, height, &bands[bandCount]))
        ++bandCount;
    if (DamageCost(bands, bandCount) >= DamageCost(rects, *count)) return "box";
    for (int i = 0; i < bandCount; ++i) rects[i] = bands[i];
    *count = bandCount;
    return "cells";
}
