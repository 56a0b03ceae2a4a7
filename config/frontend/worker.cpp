#include "config/frontend/worker.h"

#include "config/frontend/jobs.h"
#include "device/dialup.h"

#include <atomic>
#include <thread>

namespace {
struct WorkerMessage {
    uint32_t message = 0;
    DeviceJob* job = nullptr;
    uint32_t argument = 0;
    JobSearchRecord* search = nullptr;
    JobWindow* window = nullptr; // the quit message: the window that gets JobMsgEnded
};

// Worker globals: the thread and its queue, the busy flag, and what a cancel request reaches.
std::mutex g_control; // start and stop
std::thread g_thread;
std::atomic<bool> g_running { false }; // the thread's handle: cleared by the thread when it ends
std::atomic<bool> g_started { false }; // the thread's queue exists
std::atomic<int> g_busy { 0 };
std::atomic<DeviceEntry*> g_current { nullptr };
std::atomic<SearchRequest*> g_currentSearch { nullptr };
MessageQueue<WorkerMessage>* g_queue = nullptr;
JobWindow* g_window = nullptr;
JobOptions g_options;

void WorkerLoop(MessageQueue<WorkerMessage>* queue)
{
    g_window->OnWorkerStart();
    g_started = true;
    JobContext context;
    context.window = g_window;
    context.options = g_options;
    context.current = &g_current;
    context.current_search = &g_currentSearch;
    JobWindow* endWindow = nullptr;
    for (;;) {
        WorkerMessage m = queue->Get();
        if (m.message == JobMsgQuit) {
            endWindow = m.window;
            break;
        }
        if (m.message == JobMsgStart)
            continue;
        g_busy = 1;
        context.window->OnBusy(1);
        DeviceJob empty;
        int32_t result = RunDeviceJob(m.message, m.job ? *m.job : empty, m.argument, m.search, context);
        g_busy = 0;
        context.window->OnBusy(0);
        g_current = nullptr;
        g_currentSearch = nullptr;
        if (result != 0)
            context.window->Post(JobNotice { m.message, result, m.job });
        context.window->JobDone(m.message, result, m.job);
    }
    // A dial-up connection left for the idle time is closed with the worker.
    DialupHangUp();
    g_running = false;
    if (endWindow)
        endWindow->Post(JobNotice { JobMsgEnded, 0, nullptr });
}

// Joins a worker that has ended on its own (after a stop with a window).
void Reap()
{
    if (!g_running.load() && g_thread.joinable()) {
        g_thread.join();
        delete g_queue;
        g_queue = nullptr;
    }
}

// A window that ends on JobMsgEnded leaves the ended thread unjoined; the program's end joins it (and
// stops a worker still running), as a joinable thread at exit would abort the program.
struct WorkerOwner {
    ~WorkerOwner();
} g_workerOwner;

int Post(const WorkerMessage& message)
{
    std::lock_guard<std::mutex> lock(g_control);
    if (!g_running.load() || !g_queue)
        return 0;
    g_queue->Post(message);
    return 1;
}
} // namespace

int StartDeviceWorker(JobWindow& window, const JobOptions& options)
{
    std::lock_guard<std::mutex> lock(g_control);
    Reap();
    if (g_running.load())
        return 0;
    g_window = &window;
    g_options = options;
    g_queue = new MessageQueue<WorkerMessage>();
    g_started = false;
    g_running = true;
    g_thread = std::thread(WorkerLoop, g_queue);
    // The start signal is posted once the thread runs, as a thread message queue only exists then.
    while (!g_started.load())
        std::this_thread::yield();
    g_queue->Post(WorkerMessage { JobMsgStart });
    return 1;
}

int StopDeviceWorker(JobWindow* window)
{
    {
        std::lock_guard<std::mutex> lock(g_control);
        Reap();
        if (!g_running.load() || !g_queue)
            return 1;
        WorkerMessage quit;
        quit.message = JobMsgQuit;
        quit.window = window;
        g_queue->Post(quit);
        if (window)
            return 0;
    }
    while (g_running.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard<std::mutex> lock(g_control);
    Reap();
    return 1;
}

WorkerOwner::~WorkerOwner()
{
    StopDeviceWorker(nullptr);
}

int CancelDeviceJob()
{
    if (!g_busy.load())
        return 1;
    DeviceEntry* entry = g_current.load();
    SearchRequest* search = g_currentSearch.load();
    if ((entry && entry->cancel.load()) || (search && search->cancel.load()))
        return 0;
    if (entry)
        entry->cancel = 1;
    if (search)
        search->cancel = 1;
    return 1;
}

int PostDeviceJob(uint32_t message, DeviceJob* job, uint32_t argument)
{
    WorkerMessage m;
    m.message = message;
    m.job = job;
    m.argument = argument;
    return Post(m);
}

int PostDeviceSearch(uint32_t message, DeviceJob* job, JobSearchRecord* search)
{
    WorkerMessage m;
    m.message = message;
    m.job = job;
    m.search = search;
    return Post(m);
}

int DeviceWorkerBusy()
{
    return g_busy.load();
}

int DeviceWorkerRunning()
{
    return g_running.load() ? 1 : 0;
}
