// The area picker's map drawn offscreen into an image the size of its
// window: loading the outlines plus the first frame of the world (target
// 0.5 s), and one frame while panning (target 16 ms, the main thread's
// budget at 60 frames a second) over the world, a continent with its
// provinces, and a city with the tile grid of zoom 17 over the area.
// KESTRANE_PICKER_FRAMES=DIR also saves each view's frame as a PNG.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <memory>

#include "areamap/Mercator.h"
#include "areamap/WorldMap.h"
#include "picker/MapPainter.h"

namespace {

using namespace kestrane;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 830, kHeight = 660; // the picker's map at 1100 x 700

const WorldMap &Map() {
  static const WorldMap map = LoadWorldMap(KESTRANE_MAP_FILE);
  return map;
}

void SaveFrame(const QImage &image, const char *name) {
  const QByteArray dir = qgetenv("KESTRANE_PICKER_FRAMES");
  if (!dir.isEmpty())
    image.save(QString::fromLocal8Bit(dir) + "/" + name + ".png");
}

void BM_LoadAndFirstFrame(benchmark::State &state) {
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const WorldMap map = LoadWorldMap(KESTRANE_MAP_FILE);
    MapPainter painter(map);
    MapView view;
    view.SetSize(kWidth, kHeight);
    view.ShowWorld();
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    {
      QPainter p(&image);
      painter.Paint(p, view, {});
    }
    state.SetIterationTime(
        std::chrono::duration<double>(Clock::now() - t0).count());
    SaveFrame(image, "world");
  }
}
BENCHMARK(BM_LoadAndFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond);

// Frames of a view panned by 7 pixels each, after the first frame (the
// outlines' paths built) as the window draws them while dragging.
void PanFrames(benchmark::State &state, WorldPoint center, double scale,
               const MapOverlay &overlay, const char *name) {
  MapPainter painter(Map());
  MapView view;
  view.SetSize(kWidth, kHeight);
  view.CenterOn(center, scale);
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  {
    QPainter p(&image);
    painter.Paint(p, view, overlay);
  }
  SaveFrame(image, name);
  int step = 0;
  for (auto _ : state) {
    // Back and forth, so that the view stays over the same place.
    const bool forth = step % 40 < 20;
    ++step;
    view.PanBy(forth ? 7 : -7, forth ? 3 : -3);
    QPainter p(&image);
    painter.Paint(p, view, overlay);
  }
}

void BM_PanWorld(benchmark::State &state) {
  PanFrames(state, {0.5, 0.5}, kHeight, {}, "pan-world");
}
BENCHMARK(BM_PanWorld)->Unit(benchmark::kMillisecond);

void BM_PanEurope(benchmark::State &state) {
  PanFrames(state, {LongitudeToWorldX(10), LatitudeToWorldY(50)}, 6000, {},
            "pan-europe");
}
BENCHMARK(BM_PanEurope)->Unit(benchmark::kMillisecond);

void BM_PanCityWithGrid(benchmark::State &state) {
  MapOverlay overlay;
  overlay.Zoom = 17;
  overlay.Selection = ToWorld(GeoBox{2.33, 2.37, 48.87, 48.85});
  PanFrames(state, {LongitudeToWorldX(2.35), LatitudeToWorldY(48.86)}, 1 << 22,
            overlay, "pan-city");
}
BENCHMARK(BM_PanCityWithGrid)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv); // fonts for the names
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
