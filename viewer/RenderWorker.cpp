#include "viewer/RenderWorker.h"

#include <chrono>
#include <cstring>
#include <exception>

#include <sys/stat.h>

#include "app/ConversionCommand.h"

std::shared_ptr<const TViewedModel> TViewedModel::Load(const std::string& FileName)
{
    auto viewed = std::make_shared<TViewedModel>();
    viewed->FileName = FileName;
    viewed->Model.LoadFromFile(FileName);
    struct stat info = {};
    if (::stat(FileName.c_str(), &info) == 0)
        viewed->FileSize = static_cast<std::uint64_t>(info.st_size);
    viewed->Renderer = std::make_unique<TModelRenderer>(viewed->Model);
    return viewed;
}

QImage PictureOf(const TBitmap& Image)
{
    QImage picture(Image.Width(), Image.Height(), QImage::Format_BGR888);
    const std::size_t rowBytes = std::size_t(Image.Width()) * 3;
    for (std::int32_t y = 0; y < Image.Height(); ++y)
        std::memcpy(picture.scanLine(y), Image.RowData(y), rowBytes);
    return picture;
}

TRenderWorker::TRenderWorker(std::function<void(TRenderResult)> Done)
    : FDone(std::move(Done))
    , FThread(&TRenderWorker::Run, this)
{
}

TRenderWorker::~TRenderWorker()
{
    {
        std::lock_guard<std::mutex> guard(FLock);
        FStop = true;
        FPending.reset();
    }
    FWake.notify_one();
    FThread.join();
}

void TRenderWorker::Request(TRenderRequest Next)
{
    {
        std::lock_guard<std::mutex> guard(FLock);
        FPending = std::make_unique<TRenderRequest>(std::move(Next));
    }
    FWake.notify_one();
}

void TRenderWorker::Run()
{
    for (;;) {
        std::unique_ptr<TRenderRequest> request;
        {
            std::unique_lock<std::mutex> guard(FLock);
            FWake.wait(guard, [this] { return FStop || FPending; });
            if (FStop)
                return;
            request = std::move(FPending);
        }
        TRenderResult result;
        const auto start = std::chrono::steady_clock::now();
        try {
            TBitmap image;
            request->Model->Renderer->Render(
                request->Frame, request->View, request->Width, request->Height, image);
            result.Picture = PictureOf(image);
        } catch (const std::exception& failure) {
            // A picture too large for memory: the window says so and goes on.
            result.Failure = FailureText(failure);
        }
        result.Milliseconds
            = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count();
        result.Request = std::move(*request);
        FDone(std::move(result));
    }
}
