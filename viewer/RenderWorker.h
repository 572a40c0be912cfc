// Renders pictures of a model on a thread of its own, so that the window
// stays responsive however large the model. Requests are coalesced: while a
// picture is being drawn, each new request replaces the one waiting, and
// only the latest is drawn next.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <QImage>

#include "mdl/MDLClass.h"
#include "render/Renderer.h"

// A model as the viewer holds it: the renderer borrows the model, so both
// live and die together, and a render in flight keeps them alive after
// another file is opened.
struct TViewedModel
{
    std::string FileName;
    std::uint64_t FileSize = 0;
    TMDLModel Model;
    std::unique_ptr<TModelRenderer> Renderer;

    // Reads the whole file and prepares its renderer; the reader's errors
    // (EMDLFormatError, EInOutError, ...) pass through.
    static std::shared_ptr<const TViewedModel> Load(const std::string& FileName);
};

struct TRenderRequest
{
    std::shared_ptr<const TViewedModel> Model;
    std::size_t Frame = 0;
    TRenderView View;
    std::int32_t Width = 1;
    std::int32_t Height = 1;
    // Increases with every request; a result names the request it answers.
    std::uint64_t Serial = 0;
};

struct TRenderResult
{
    TRenderRequest Request;
    QImage Picture; // Format_BGR888
    double Milliseconds = 0;
    // The renderer's failure (out of memory), when it gave no picture.
    std::string Failure;
};

// The 24-bit picture as a QImage of its own: the bitmap's rows from the
// top are already blue, green, red, but padded to 4 bytes.
QImage PictureOf(const TBitmap& Image);

class TRenderWorker
{
public:
    // Done runs on the worker's thread once per picture drawn.
    explicit TRenderWorker(std::function<void(TRenderResult)> Done);
    // Waits for the picture in flight, if any; the requests waiting are
    // dropped.
    ~TRenderWorker();
    TRenderWorker(const TRenderWorker&) = delete;
    TRenderWorker& operator=(const TRenderWorker&) = delete;

    // Never waits for a render: it only replaces the request waiting.
    void Request(TRenderRequest Next);

private:
    void Run();

    std::function<void(TRenderResult)> FDone;
    std::mutex FLock;
    std::condition_variable FWake;
    std::unique_ptr<TRenderRequest> FPending;
    bool FStop = false;
    std::thread FThread;
};
