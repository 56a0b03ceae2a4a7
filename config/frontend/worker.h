// The device worker: one thread that carries out every job on devices (checks, configuration reads
// and writes, files, firmware, clock, search), fed through a thread message queue. The window thread
// posts jobs and gets their results back as notices with the same message number; the Win32 window
// receives them through a small adapter that turns each notice into a posted window message.
#pragma once

#include "device/deviceentry.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

// Message numbers: the jobs, and what the worker tells the window.
enum DeviceJobMessage : uint32_t {
    JobMsgStart = 1024, // start signal of the worker (ignored)
    JobMsgBusy = 1025, // sent to the window at the start and at the end of every job
    JobMsgEnded = 1026, // posted to the window named in the stop request when the worker has ended
    JobStartupCheck = 1027, // check the entries marked local, then search when a search record is given
    JobSearch = 1028, // search with the given search record
    JobCheck = 1029, // check; argument: low 16 bits the command to resume (also the stop flag), above: skip "Ok"
    JobCheckAll = 1030, // check every entry of the job
    JobReadConfig = 1031, // read configuration for editing (simplified set when EasyConfig is 1)
    JobReadForWizard = 1032, // read configuration for the setup wizard
    JobReadForPrint = 1033, // read configuration for printing
    JobWriteConfig = 1034, // write configuration and wait for the restart
    JobRelease = 1035, // free the job's configurations
    JobSaveToFile = 1036, // first entry: read configuration into its file
    JobRestoreFromFile = 1037, // first entry: write its file as configuration
    JobUploadFirmware = 1038, // upload the first entry's firmware file to every entry
    JobActivateImage = 1039, // first entry: activate its image
    JobSetTime = 1040, // set every entry's clock to the first entry's time text
    JobMsgQuit = 0x12, // the quit message
};

// A portable thread message queue (the Win32 thread message queue's role): any thread posts, one
// thread takes the messages in order.
template<class T> class MessageQueue {
public:
    void Post(T message)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(message));
        }
        ready_.notify_one();
    }
    // Waits for the next message.
    T Get()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return !queue_.empty(); });
        T message = std::move(queue_.front());
        queue_.pop_front();
        return message;
    }
    // Waits at most `ms` milliseconds; false when nothing came.
    bool Wait(T* message, uint32_t ms)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!ready_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return !queue_.empty(); }))
            return false;
        *message = std::move(queue_.front());
        queue_.pop_front();
        return true;
    }
    bool Empty()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return queue_.empty();
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<T> queue_;
};

// What the worker posts to a window: a job's result (message = the job's number, result = its code)
// or JobMsgEnded.
struct JobNotice {
    uint32_t message = 0;
    int32_t result = 0;
    DeviceJob* job = nullptr;
};

// The window side as the worker sees it. The calls other than Post come from the worker thread.
class JobWindow {
public:
    virtual ~JobWindow() = default;
    // Called on the worker thread itself before it takes its first message: the program sets the
    // thread's locale to its own language there (Windows NT), as the window thread's.
    virtual void OnWorkerStart() { }
    // JobMsgBusy, sent synchronously: 1 at the start of a job, 0 at its end.
    virtual void OnBusy(int busy)
    {
        (void)busy;
    }
    // The entry's status or progress changed: redraw it.
    virtual void Redraw(DeviceEntry& entry)
    {
        (void)entry;
    }
    // A job changed what the device list stores of the entry (a new name): the list must be saved.
    virtual void EntryChanged(DeviceEntry& entry)
    {
        (void)entry;
    }
    // After a job has ended and its result (if any) was posted: front ends that wait for the end of
    // every job, also those without a result, hear it here.
    virtual void JobDone(uint32_t message, int32_t result, DeviceJob* job)
    {
        (void)message;
        (void)result;
        (void)job;
    }
    // Posted results and JobMsgEnded; the default queues them for the window thread.
    virtual void Post(const JobNotice& notice)
    {
        notices.Post(notice);
    }
    MessageQueue<JobNotice> notices;
};

struct JobOptions;
struct JobSearchRecord;

// Creates the worker thread with the window that receives results and the options of its jobs, then
// posts the start signal until the thread's queue takes it. Returns 1 when the thread was created
// (0 when a worker already runs).
int StartDeviceWorker(JobWindow& window, const JobOptions& options);
// No worker: 1. With a window: asks the worker to quit and returns 0; the window gets JobMsgEnded
// once it has ended. Without: asks it to quit, waits until it has ended and returns 1.
int StopDeviceWorker(JobWindow* window);
// No job running: 1. Cancel already requested for the entry or the search being worked on: 0.
// Otherwise requests the cancel of both and returns 1.
int CancelDeviceJob();
// Posts a job; its result comes back to the window as a notice with the same message number (when
// the result is not 0). Returns 0 when no worker runs.
int PostDeviceJob(uint32_t message, DeviceJob* job, uint32_t argument);
// Posts a start-up check (JobStartupCheck) or search (JobSearch) with its search record.
int PostDeviceSearch(uint32_t message, DeviceJob* job, JobSearchRecord* search);
// 1 while a job runs.
int DeviceWorkerBusy();
// 1 while the worker thread exists.
int DeviceWorkerRunning();
