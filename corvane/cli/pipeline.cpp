#include "pipeline.h"

#include "parse.h"
#include "thread_pool.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace quillomark {

namespace {

// Frames waiting for an encoder. With the one each encoder holds and the
// one the renderer hands over, encoders + 2 rendered frames at most.
constexpr size_t kWaiting = 1;

class Pipeline {
public:
    Pipeline(const FrameRange &frames, FrameSink &sink, const PipelineSteps &steps)
        : first_(frames.first), sink_(sink), steps_(steps), complete_(static_cast<size_t>(frames.count()), kPending)
    {
    }

    ~Pipeline() { stopAndJoin(); }

    void start(int32_t encoders)
    {
        for (int32_t i = 0; i < encoders; ++i)
            threads_.push_back(corvane::startQuietThread([this] { encode(); }));
    }

    // Hands a rendered frame to the encoders, waiting for room; false once
    // the run has stopped.
    bool push(int32_t frame, media::Image image)
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            reportWritten(lock);
            if (stop_)
                return false;
            if (queue_.size() < kWaiting)
                break;
            changed_.wait(lock);
        }
        queue_.emplace_back(frame, std::move(image));
        changed_.notify_all();
        return true;
    }

    // A frame left alone counts as done, unreported.
    void skipped(int32_t frame)
    {
        std::lock_guard lock(mutex_);
        complete_[static_cast<size_t>(frame - first_)] = kSkipped;
    }

    bool stopped()
    {
        std::lock_guard lock(mutex_);
        return stop_;
    }

    // Waits for every frame handed over to be written.
    void drain()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            reportWritten(lock);
            if (stop_ || (queue_.empty() && busy_ == 0))
                return;
            changed_.wait(lock);
        }
    }

    // Stops taking frames, lets the writes in flight end and joins every
    // encoder; then reports the frames that were written.
    void stopAndJoin()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            queue_.clear();
        }
        changed_.notify_all();
        for (std::thread &t : threads_)
            t.join();
        threads_.clear();
    }

    // The first failed write, by frame number; none when every write so far
    // succeeded. Only once the encoders are joined.
    std::exception_ptr failure() const { return failure_; }

    // Once stopped: every frame written, gaps left by failures skipped.
    void reportAllWritten()
    {
        for (size_t i = next_; i < complete_.size(); ++i)
            if (complete_[i] == kWritten)
                steps_.written(first_ + static_cast<int32_t>(i), ++written_);
        next_ = complete_.size();
    }

private:
    void encode()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_)
                return;
            auto [frame, image] = std::move(queue_.front());
            queue_.pop_front();
            ++busy_;
            changed_.notify_all();
            lock.unlock();
            std::exception_ptr error;
            try {
                sink_.write(frame, std::move(image));
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            --busy_;
            if (error) {
                if (!failure_ || frame < failedFrame_)
                    failure_ = error, failedFrame_ = frame;
                stop_ = true;
                queue_.clear();
            } else {
                complete_[static_cast<size_t>(frame - first_)] = kWritten;
            }
            changed_.notify_all();
        }
    }

    // Tells the caller, in frame order, of the frames written since last
    // time; the lock is let go while it hears.
    void reportWritten(std::unique_lock<std::mutex> &lock)
    {
        while (next_ < complete_.size() && complete_[next_]) {
            if (complete_[next_] == kSkipped) {
                ++next_;
                continue;
            }
            const auto frame = first_ + static_cast<int32_t>(next_++);
            const int32_t written = ++written_;
            lock.unlock();
            steps_.written(frame, written);
            lock.lock();
        }
    }

    const int32_t first_;
    FrameSink &sink_;
    const PipelineSteps &steps_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<int32_t, media::Image>> queue_;
    enum : uint8_t { kPending, kWritten, kSkipped };
    std::vector<uint8_t> complete_; // by frame
    size_t next_ = 0;               // the first frame not yet reported
    int32_t written_ = 0, busy_ = 0;
    bool stop_ = false;
    std::exception_ptr failure_;
    int32_t failedFrame_ = 0;
    std::vector<std::thread> threads_;
};

} // namespace

void runPipeline(const FrameRange &frames, FrameSource &source, FrameSink &sink, const PipelineSteps &steps)
{
    Pipeline pipeline(frames, sink, steps);
    std::exception_ptr renderError;
    try {
        pipeline.start(std::max(1, sink.encoders()));
        for (int32_t f = frames.first; f <= frames.last && !pipeline.stopped(); ++f) {
            if (steps.skip && steps.skip(f)) {
                pipeline.skipped(f);
                continue;
            }
            steps.started(f);
            media::Image image = steps.render(source.plate(f), f);
            if (!pipeline.push(f, std::move(image)))
                break;
        }
        pipeline.drain();
    } catch (...) {
        renderError = std::current_exception();
    }
    // Frames rendered before a failed render are still written; after a
    // cancel their writes stop at once.
    if (renderError) {
        try {
            pipeline.drain();
        } catch (...) {
        }
    }
    pipeline.stopAndJoin();
    // A failed write comes from an earlier frame than a failed render.
    if (std::exception_ptr failure = pipeline.failure() ? pipeline.failure() : renderError) {
        pipeline.reportAllWritten();
        std::rethrow_exception(failure);
    }
    pipeline.reportAllWritten();
    sink.finish();
}

ImageFilesSink::ImageFilesSink(media::FramePattern output, bool formatHoldsAlpha, OutputOptions options,
                               int32_t encoders)
    : output_(std::move(output)), alpha_(formatHoldsAlpha), options_(std::move(options)), encoders_(encoders)
{
}

std::string ImageFilesSink::name(int32_t frame) const
{
    return output_.at(frame);
}

void ImageFilesSink::write(int32_t frame, media::Image image)
{
    if (image.shape().hasAlpha && !alpha_) // the format keeps the colours alone
        image = image.converted(image.shape().type, false, image.shape().alpha);
    writeImageAtomically(name(frame), image, options_);
}

} // namespace quillomark
