// Cost of showing one new frame in the real window: the renderer takes a ready slot, uploads it as
// a texture, draws it over the viewport and swaps (then glFinish, so the GL work is inside the
// time). Baseline: copying the frame's bytes once, measured in the same run. Needs DISPLAY with a
// screen at least 1920 x 1080.
#include <benchmark/benchmark.h>

#include <GL/glew.h>
#include <GL/freeglut.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/display_control.h"
#include "display/frames.h"
#include "display/renderer.h"
#include "display/window.h"
#include "screen/hardware_images.h"

namespace {

bool window_ready() {
    static bool ready = [] {
        if (!std::getenv("DISPLAY")) return false;
        static char name[] = "bench_renderer";
        char* argv[] = {name, nullptr};
        int argc = 1;
        glutInit(&argc, argv);
        glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
        glutInitWindowSize(640, 480);
        glutCreateWindow("bench");
        glutDisplayFunc(glut_display_callback);
        glewInit();
        fbo_supported.store(glewIsSupported("GL_EXT_framebuffer_object") ? 1 : 0);
        hardware_lists_create();
        renderer_state_reset();
        return true;
    }();
    return ready;
}

void window_size(int32_t w, int32_t h) {
    glutReshapeWindow(w, h);
    for (int i = 0; i < 20; ++i) glutMainLoopEvent();
    window_width.store(w);
    window_height.store(h);
    window_previous_width.store(w);
    window_previous_height.store(h);
    window_reshape_pending.store(0);
    window_reshaped.store(1);
}

void BM_frame_show(benchmark::State& state) {
    if (!window_ready()) {
        state.SkipWithError("needs DISPLAY");
        return;
    }
    auto w = static_cast<int32_t>(state.range(0));
    auto h = static_cast<int32_t>(state.range(1));
    window_size(w, h);
    std::vector<uint32_t> pixels[2];
    for (auto& p : pixels) {
        p.resize(static_cast<size_t>(w) * h);
        for (size_t i = 0; i < p.size(); ++i) p[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
    }
    int64_t number = frame_number_next.load();
    int which = 0;
    for (auto _ : state) {
        // Every frame is a new one, so the renderer uploads and draws each time.
        software_frame& slot = software_frames[which];
        slot.pixels = pixels[which].data();
        slot.width = w;
        slot.height = h;
        slot.number.store(number);
        slot.state.store(frame_slot_ready);
        frame_number_ready.store(number);
        frame_number_next.store(++number);
        glut_display_callback();
        glFinish();
        which ^= 1;
    }
    for (auto& slot : software_frames) {
        slot.state.store(frame_slot_free);
        slot.pixels = nullptr;
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(w) * h * 4);
}

void BM_frame_copy(benchmark::State& state) {
    size_t bytes = static_cast<size_t>(state.range(0)) * static_cast<size_t>(state.range(1)) * 4;
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

BENCHMARK(BM_frame_show)->Args({640, 400})->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_frame_copy)->Args({640, 400})->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

}  // namespace
