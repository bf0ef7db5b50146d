// Drawing of the round response graph: the history of the latest response
// times and the routines that paint its background and its line onto an image.
#pragma once

#include <QImage>
#include <QtGlobal>
#include <array>

namespace graph {

// Number of response values kept; only the newest GraphSlotsDrawn are drawn.
constexpr int HistorySlots = 26;
constexpr int GraphSlotsDrawn = 16;
// One stored unit is this many milliseconds (one pixel of height on the graph).
constexpr int MsPerUnit = 40;
// Radius of the circle the line must stay under, in pixels.
constexpr int GraphRadius = 58;

// Latest response times in units of 40 ms, slot 0 the newest.
using TResponseHistory = std::array<qint32, HistorySlots>;

// Sets every slot to 0.
void ClearResponseHistory(TResponseHistory &history);
// Shifts the history one slot older and stores ms div 40 in slot 0.
void PushResponse(TResponseHistory &history, int ms);
// Highest value that slot 'slot' may show (the circle's height over that slot).
int SlotLimit(int slot);

// Paints circle, axes, ticks and millisecond labels onto 'image' (which keeps
// its size; the caller clears it first when a fresh background is wanted).
void DrawGraphBackground(QImage &image);
// Paints the red polyline of slots 15..0 onto 'image'. Values that rise above
// the circle are cut to it, and the cut value is written back into the history.
void DrawResponseLine(QImage &image, TResponseHistory &history);

// Colours of the graph.
inline constexpr QRgb GraphPenColour = 0xff008000;   // green: circle, axes, ticks
inline constexpr QRgb GraphLabelColour = 0xff808000; // olive: millisecond labels
inline constexpr QRgb GraphLineColour = 0xffff0000;  // red: the response line

} // namespace graph
