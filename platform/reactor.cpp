// One reactor per thread. Two epoll sets:
//  - the inner set holds the timerfd and the sockets whose read notification is armed; the thread
//    blocks on it when it waits (nothing can be posted while it blocks: posting is same-thread);
//  - the outer set (ReactorFd) holds the inner set and an eventfd that is signalled exactly while a
//    posted message, a due timer or WM_QUIT waits; so it is readable whenever anything is pending.
// A timer that is due but not yet taken is kept out of the timerfd, and a socket whose notification
// waits in the queue is disabled in the inner set (EPOLLONESHOT until re-armed), so a wait filtered
// to one window never spins on what belongs to another. One-shot registration also means that a
// socket closed without cancelling its selection (its file kept open elsewhere, say by a forked
// child) reports at most once more instead of forever.
// Deferred releases (ReleaseLater) wait in a list of their own, run when the count of running window
// procedures drops back to zero, or by a peek made while none runs.
#include "platform/reactor.h"

#include <cxxabi.h>
#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>

#include "platform/exceptions.h"
#include "platform/unique_fd.h"

struct WindowRecord {
  WindowProc proc;
};

namespace {

constexpr std::uint64_t kTimerTag = std::numeric_limits<std::uint64_t>::max();
constexpr int kMaxEvents = 64;
constexpr std::uint32_t kSocketEvents = EPOLLIN | EPOLLONESHOT;

std::uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

[[noreturn]] void ThrowOsError(const char* what) {
  throw EOSError(std::string(what) + ": " + std::strerror(errno));
}

// Window handles are never reused: a handle is a number from a process-wide counter, looked up in
// the calling thread's table, so a stale or foreign handle simply finds nothing.
std::atomic<std::uintptr_t> nextWindowNumber{1};

std::uintptr_t KeyOf(HWND hwnd) { return reinterpret_cast<std::uintptr_t>(hwnd); }

bool InRange(UINT message, UINT filterMin, UINT filterMax) {
  if (filterMin == 0 && filterMax == 0) return true;
  return message >= filterMin && message <= filterMax;
}

struct QueuedMessage {
  MSG msg;
  int socket = -1;  // a socket notification re-arms its socket when it leaves the queue
  std::uint64_t watchGeneration = 0;
};

struct TimerKey {
  std::uintptr_t window;
  UINT_PTR id;
  auto operator<=>(const TimerKey&) const = default;
};

struct Timer {
  UINT intervalMs;
  std::uint64_t nextDue;
  bool due = false;
};

struct SocketWatch {
  HWND window;
  UINT message;
  dev_t device;
  ino_t inode;
  std::uint64_t generation;
  bool armed;
};

class Reactor {
 public:
  Reactor();

  HWND Allocate(WindowProc proc);
  void Deallocate(HWND hwnd);
  std::shared_ptr<WindowRecord> Find(HWND hwnd) const;

  bool Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void PostQuit(int exitCode);
  bool Peek(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
  // Blocks until the inner set reports something (or the time runs out) and converts it.
  void CollectReadiness(int timeoutMs);
  bool HasPending() const {
    return !queue_.empty() || dueTimers_ > 0 || quitPending_ || (procedureDepth_ == 0 && !releases_.empty());
  }
  int OuterFd() const { return outer_.Get(); }

  UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT intervalMs);
  bool KillTimer(HWND hwnd, UINT_PTR id);
  int AsyncSelect(int socket, HWND hwnd, UINT message, long events);

  // Window procedures running now (DispatchMessage and SendMessage, nested ones included).
  void EnterProcedure() noexcept { ++procedureDepth_; }
  void LeaveProcedure() noexcept {
    if (--procedureDepth_ == 0) SyncSignal();  // releases deferred meanwhile are pending now
  }
  void DeferRelease(IUnknown* object);
  // Runs the deferred releases when no window procedure runs (and none of them already runs).
  void RunDeferredReleases();

 private:
  void HandleTimerFd();
  void HandleSocketReady(int socket);
  void Rearm(int socket, std::uint64_t generation);
  void DropWatch(int socket);
  bool Register(int socket, int operation);
  void ArmTimerFd();
  void SyncSignal();
  bool TakePosted(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, bool remove);
  bool TakeQuit(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, bool remove);
  bool TakeTimer(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, bool remove);
  void EnqueueSocketNotification(int socket, SocketWatch& watch);

  UniqueFd inner_;
  UniqueFd outer_;
  UniqueFd timerFd_;
  UniqueFd signalFd_;
  bool signalled_ = false;
  std::uint64_t timerFdDue_ = 0;  // absolute due time the timerfd is armed for; 0: disarmed

  std::unordered_map<std::uintptr_t, std::shared_ptr<WindowRecord>> windows_;
  std::deque<QueuedMessage> queue_;
  std::map<TimerKey, Timer> timers_;
  std::size_t dueTimers_ = 0;
  std::unordered_map<int, SocketWatch> sockets_;
  std::uint64_t watchGeneration_ = 0;
  bool quitPending_ = false;
  int quitCode_ = 0;
  int procedureDepth_ = 0;
  std::deque<IUnknown*> releases_;
  bool releasing_ = false;
};

Reactor::Reactor()
    : inner_(epoll_create1(EPOLL_CLOEXEC)),
      outer_(epoll_create1(EPOLL_CLOEXEC)),
      timerFd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
      signalFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!inner_ || !outer_ || !timerFd_ || !signalFd_) ThrowOsError("message queue");
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kTimerTag;
  if (epoll_ctl(inner_.Get(), EPOLL_CTL_ADD, timerFd_.Get(), &ev) != 0) ThrowOsError("message queue timer");
  ev.data.u64 = 0;
  if (epoll_ctl(outer_.Get(), EPOLL_CTL_ADD, inner_.Get(), &ev) != 0 ||
      epoll_ctl(outer_.Get(), EPOLL_CTL_ADD, signalFd_.Get(), &ev) != 0) {
    ThrowOsError("message queue descriptor");
  }
}

HWND Reactor::Allocate(WindowProc proc) {
  const std::uintptr_t key = nextWindowNumber.fetch_add(1, std::memory_order_relaxed) << 4;
  windows_.emplace(key, std::make_shared<WindowRecord>(WindowRecord{std::move(proc)}));
  return reinterpret_cast<HWND>(key);
}

void Reactor::Deallocate(HWND hwnd) {
  const auto found = windows_.find(KeyOf(hwnd));
  if (found == windows_.end()) return;
  // The record itself lives on while a dispatch of this window still runs (it holds a reference).
  windows_.erase(found);

  const auto first = timers_.lower_bound(TimerKey{KeyOf(hwnd), 0});
  auto last = first;
  while (last != timers_.end() && last->first.window == KeyOf(hwnd)) {
    if (last->second.due) --dueTimers_;
    ++last;
  }
  timers_.erase(first, last);

  for (auto it = sockets_.begin(); it != sockets_.end();) {
    if (it->second.window == hwnd) {
      epoll_ctl(inner_.Get(), EPOLL_CTL_DEL, it->first, nullptr);
      it = sockets_.erase(it);
    } else {
      ++it;
    }
  }
  std::erase_if(queue_, [hwnd](const QueuedMessage& q) { return q.msg.hwnd == hwnd; });
  SyncSignal();
}

std::shared_ptr<WindowRecord> Reactor::Find(HWND hwnd) const {
  const auto found = windows_.find(KeyOf(hwnd));
  return found == windows_.end() ? nullptr : found->second;
}

bool Reactor::Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (hwnd != nullptr && !windows_.contains(KeyOf(hwnd))) return false;
  queue_.push_back(QueuedMessage{MSG{hwnd, message, wParam, lParam, GetTickCount()}});
  SyncSignal();
  return true;
}

void Reactor::PostQuit(int exitCode) {
  quitPending_ = true;
  quitCode_ = exitCode;
  SyncSignal();
}

bool Reactor::Peek(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  RunDeferredReleases();
  CollectReadiness(0);
  if (hwnd != nullptr && !windows_.contains(KeyOf(hwnd))) return false;
  const bool remove = (removeFlags & PM_REMOVE) != 0;
  return TakePosted(msg, hwnd, filterMin, filterMax, remove) ||
         TakeQuit(msg, hwnd, filterMin, filterMax, remove) ||
         TakeTimer(msg, hwnd, filterMin, filterMax, remove);
}

void Reactor::CollectReadiness(int timeoutMs) {
  epoll_event events[kMaxEvents];
  int count;
  do {
    count = epoll_wait(inner_.Get(), events, kMaxEvents, timeoutMs);
  } while (count < 0 && errno == EINTR && timeoutMs == 0);
  for (int i = 0; i < count; ++i) {
    if (events[i].data.u64 == kTimerTag) {
      HandleTimerFd();
    } else {
      HandleSocketReady(static_cast<int>(events[i].data.u64));
    }
  }
}

void Reactor::HandleTimerFd() {
  std::uint64_t expirations = 0;
  [[maybe_unused]] const auto n = read(timerFd_.Get(), &expirations, sizeof expirations);
  timerFdDue_ = 0;
  const std::uint64_t now = MonotonicMs();
  for (auto& [key, timer] : timers_) {
    if (!timer.due && timer.nextDue <= now) {
      timer.due = true;
      ++dueTimers_;
    }
  }
  ArmTimerFd();
  SyncSignal();
}

void Reactor::HandleSocketReady(int socket) {
  const auto found = sockets_.find(socket);
  // Not watched (any more): the one-shot registration has disabled itself already.
  if (found == sockets_.end() || !found->second.armed) return;
  EnqueueSocketNotification(socket, found->second);
}

void Reactor::EnqueueSocketNotification(int socket, SocketWatch& watch) {
  watch.armed = false;  // the one-shot registration reports nothing more until re-armed
  QueuedMessage queued{MSG{watch.window, watch.message, static_cast<WPARAM>(socket), FD_READ, GetTickCount()}};
  queued.socket = socket;
  queued.watchGeneration = watch.generation;
  queue_.push_back(queued);
  SyncSignal();
}

void Reactor::Rearm(int socket, std::uint64_t generation) {
  const auto found = sockets_.find(socket);
  if (found == sockets_.end() || found->second.generation != generation || found->second.armed) return;
  struct stat st{};
  // A descriptor that was closed, or closed and reused for another file, is no longer watched.
  if (fstat(socket, &st) != 0 || st.st_dev != found->second.device || st.st_ino != found->second.inode) {
    sockets_.erase(found);
    return;
  }
  if (!Register(socket, EPOLL_CTL_MOD) && !Register(socket, EPOLL_CTL_ADD)) {
    epoll_ctl(inner_.Get(), EPOLL_CTL_DEL, socket, nullptr);
    sockets_.erase(found);
    return;
  }
  found->second.armed = true;
}

bool Reactor::Register(int socket, int operation) {
  epoll_event ev{};
  ev.events = kSocketEvents;
  ev.data.u64 = static_cast<std::uint64_t>(socket);
  return epoll_ctl(inner_.Get(), operation, socket, &ev) == 0;
}

void Reactor::DropWatch(int socket) {
  const auto found = sockets_.find(socket);
  if (found == sockets_.end()) return;
  epoll_ctl(inner_.Get(), EPOLL_CTL_DEL, socket, nullptr);
  sockets_.erase(found);
  std::erase_if(queue_, [socket](const QueuedMessage& q) { return q.socket == socket; });
  SyncSignal();
}

void Reactor::ArmTimerFd() {
  std::uint64_t earliest = 0;
  for (const auto& [key, timer] : timers_) {
    if (!timer.due && (earliest == 0 || timer.nextDue < earliest)) earliest = timer.nextDue;
  }
  if (earliest == timerFdDue_) return;
  itimerspec due{};
  if (earliest != 0) {
    due.it_value.tv_sec = static_cast<time_t>(earliest / 1000u);
    due.it_value.tv_nsec = static_cast<long>((earliest % 1000u) * 1000000u);
  }
  timerfd_settime(timerFd_.Get(), TFD_TIMER_ABSTIME, &due, nullptr);
  timerFdDue_ = earliest;
}

void Reactor::SyncSignal() {
  const bool wanted = HasPending();
  if (wanted == signalled_) return;
  std::uint64_t value = 1;
  if (wanted) {
    [[maybe_unused]] const auto n = write(signalFd_.Get(), &value, sizeof value);
  } else {
    [[maybe_unused]] const auto n = read(signalFd_.Get(), &value, sizeof value);
  }
  signalled_ = wanted;
}

bool Reactor::TakePosted(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, bool remove) {
  const auto found = std::find_if(queue_.begin(), queue_.end(), [&](const QueuedMessage& q) {
    return (hwnd == nullptr || q.msg.hwnd == hwnd) && InRange(q.msg.message, filterMin, filterMax);
  });
  if (found == queue_.end()) return false;
  *msg = found->msg;
  if (remove) {
    const int socket = found->socket;
    const std::uint64_t generation = found->watchGeneration;
    queue_.erase(found);
    if (socket >= 0) Rearm(socket, generation);
    SyncSignal();
  }
  return true;
}

bool Reactor::TakeQuit(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, bool remove) {
  if (!quitPending_ || hwnd != nullptr || !InRange(WM_QUIT, filterMin, filterMax)) return false;
  *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0, GetTickCount()};
  if (remove) {
    quitPending_ = false;
    SyncSignal();
  }
  return true;
}

bool Reactor::TakeTimer(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, bool remove) {
  if (dueTimers_ == 0 || !InRange(WM_TIMER, filterMin, filterMax)) return false;
  auto chosen = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (!it->second.due || (hwnd != nullptr && it->first.window != KeyOf(hwnd))) continue;
    if (chosen == timers_.end() || it->second.nextDue < chosen->second.nextDue) chosen = it;
  }
  if (chosen == timers_.end()) return false;
  const std::uint64_t now = MonotonicMs();
  *msg = MSG{reinterpret_cast<HWND>(chosen->first.window), WM_TIMER, chosen->first.id, 0,
             static_cast<DWORD>(now)};
  if (remove) {
    chosen->second.due = false;
    chosen->second.nextDue = now + chosen->second.intervalMs;
    --dueTimers_;
    ArmTimerFd();
    SyncSignal();
  }
  return true;
}

UINT_PTR Reactor::SetTimer(HWND hwnd, UINT_PTR id, UINT intervalMs) {
  if (hwnd == nullptr || !windows_.contains(KeyOf(hwnd))) return 0;
  const UINT interval = std::max<UINT>(intervalMs, 1);
  Timer& timer = timers_[TimerKey{KeyOf(hwnd), id}];
  if (timer.due) --dueTimers_;
  timer = Timer{interval, MonotonicMs() + interval, false};
  ArmTimerFd();
  SyncSignal();
  return id;
}

bool Reactor::KillTimer(HWND hwnd, UINT_PTR id) {
  const auto found = timers_.find(TimerKey{KeyOf(hwnd), id});
  if (found == timers_.end()) return false;
  if (found->second.due) --dueTimers_;
  timers_.erase(found);
  ArmTimerFd();
  SyncSignal();
  return true;
}

int Reactor::AsyncSelect(int socket, HWND hwnd, UINT message, long events) {
  struct stat st{};
  const bool valid = socket >= 0 && fstat(socket, &st) == 0;
  DropWatch(socket);  // a new selection replaces the old one, and its waiting notifications
  if (!valid) {
    errno = EBADF;
    return -1;
  }
  if ((events & FD_READ) == 0) return 0;
  if (hwnd == nullptr || !windows_.contains(KeyOf(hwnd))) {
    errno = EINVAL;
    return -1;
  }
  if (!Register(socket, EPOLL_CTL_ADD) && (errno != EEXIST || !Register(socket, EPOLL_CTL_MOD))) return -1;
  sockets_[socket] = SocketWatch{hwnd, message, st.st_dev, st.st_ino, ++watchGeneration_, true};
  return 0;
}

void Reactor::DeferRelease(IUnknown* object) {
  releases_.push_back(object);
  SyncSignal();
}

void Reactor::RunDeferredReleases() {
  // A release that pumps messages (a teardown that waits) runs inside this loop: the releases it
  // would find are left to the loop, never nested under the object still being torn down.
  if (releases_.empty() || procedureDepth_ > 0 || releasing_) return;
  releasing_ = true;
  while (!releases_.empty()) {
    IUnknown* const object = releases_.front();
    releases_.pop_front();
    SyncSignal();
    try {
      object->Release();
    } catch (abi::__forced_unwind&) {
      releasing_ = false;
      throw;  // thread cancellation must go on unwinding; what is left goes at the thread's end
    } catch (...) {
      // Nothing more to do for it; the rest still go.
    }
  }
  releasing_ = false;
  SyncSignal();
}

// Counts a window procedure as running while it runs.
class ProcedureScope {
 public:
  explicit ProcedureScope(Reactor& reactor) noexcept : reactor_(reactor) { reactor_.EnterProcedure(); }
  ~ProcedureScope() { reactor_.LeaveProcedure(); }
  ProcedureScope(const ProcedureScope&) = delete;
  ProcedureScope& operator=(const ProcedureScope&) = delete;

 private:
  Reactor& reactor_;
};

// The calling thread's reactor, made on first use. After the thread's reactor has been destroyed
// (thread exit, or static destructors of the main thread), the calls quietly do nothing.
thread_local Reactor* currentReactor = nullptr;
thread_local bool reactorGone = false;

struct ReactorHolder {
  std::unique_ptr<Reactor> reactor;
  ~ReactorHolder() {
    // Releases still waiting go now, while the queue exists for the teardowns they run.
    if (reactor) reactor->RunDeferredReleases();
    reactorGone = true;
    currentReactor = nullptr;
  }
};
thread_local ReactorHolder reactorHolder;

Reactor* ThisReactor() {
  if (currentReactor == nullptr && !reactorGone) {
    reactorHolder.reactor = std::make_unique<Reactor>();
    currentReactor = reactorHolder.reactor.get();
  }
  return currentReactor;
}

}  // namespace

HWND AllocateHWnd(WindowProc proc) {
  Reactor* reactor = ThisReactor();
  if (reactor == nullptr) throw EOSError("message queue: the thread is ending");
  return reactor->Allocate(std::move(proc));
}

void DeallocateHWnd(HWND hwnd) {
  if (Reactor* reactor = ThisReactor(); reactor != nullptr && hwnd != nullptr) reactor->Deallocate(hwnd);
}

bool IsWindow(HWND hwnd) {
  Reactor* reactor = ThisReactor();
  return reactor != nullptr && hwnd != nullptr && reactor->Find(hwnd) != nullptr;
}

bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Reactor* reactor = ThisReactor();
  return reactor != nullptr && reactor->Post(hwnd, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
  if (Reactor* reactor = ThisReactor()) reactor->PostQuit(exitCode);
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Reactor* reactor = ThisReactor();
  if (reactor == nullptr) return 0;
  const std::shared_ptr<WindowRecord> window = reactor->Find(hwnd);
  if (!window) return 0;
  LRESULT result = 0;
  {
    const ProcedureScope scope(*reactor);
    result = window->proc ? window->proc(hwnd, message, wParam, lParam)
                          : DefWindowProc(hwnd, message, wParam, lParam);
  }
  reactor->RunDeferredReleases();
  return result;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

bool PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  Reactor* reactor = ThisReactor();
  return msg != nullptr && reactor != nullptr && reactor->Peek(msg, hwnd, filterMin, filterMax, removeFlags);
}

bool GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  Reactor* reactor = ThisReactor();
  if (msg == nullptr || reactor == nullptr) return false;
  while (!reactor->Peek(msg, hwnd, filterMin, filterMax, PM_REMOVE)) {
    if (hwnd != nullptr && !IsWindow(hwnd)) {
      *msg = MSG{nullptr, WM_QUIT, 0, 0, GetTickCount()};
      return false;
    }
    reactor->CollectReadiness(-1);
  }
  return msg->message != WM_QUIT;
}

bool TranslateMessage(const MSG*) { return false; }

LRESULT DispatchMessage(const MSG* msg) {
  Reactor* reactor = ThisReactor();
  if (msg == nullptr || msg->hwnd == nullptr || reactor == nullptr) return 0;
  const std::shared_ptr<WindowRecord> window = reactor->Find(msg->hwnd);
  if (!window) return 0;
  LRESULT result = 0;
  {
    const ProcedureScope scope(*reactor);
    try {
      result = window->proc ? window->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam)
                            : DefWindowProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    } catch (abi::__forced_unwind&) {
      throw;  // thread cancellation must go on unwinding
    } catch (...) {
      result = 0;
    }
  }
  reactor->RunDeferredReleases();
  return result;
}

bool WaitMessage(int timeoutMs) {
  Reactor* reactor = ThisReactor();
  if (reactor == nullptr) return false;
  const std::uint64_t start = GetTickCount64();
  for (;;) {
    reactor->CollectReadiness(0);
    if (reactor->HasPending()) return true;
    int wait = -1;
    if (timeoutMs >= 0) {
      const std::uint64_t elapsed = GetTickCount64() - start;
      if (elapsed >= static_cast<std::uint64_t>(timeoutMs)) return false;
      wait = static_cast<int>(static_cast<std::uint64_t>(timeoutMs) - elapsed);
    }
    reactor->CollectReadiness(wait);
    if (reactor->HasPending()) return true;
  }
}

int ReactorFd() {
  Reactor* reactor = ThisReactor();
  return reactor == nullptr ? -1 : reactor->OuterFd();
}

void ReleaseLater(IUnknown* object) {
  if (object == nullptr) return;
  Reactor* reactor = ThisReactor();
  if (reactor == nullptr) {
    object->Release();  // the thread is ending: no window procedure of it runs any more
    return;
  }
  try {
    reactor->DeferRelease(object);
  } catch (const std::bad_alloc&) {
    // Without room to queue it the reference is kept: a leak, not a free under running code.
  }
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT intervalMs) {
  Reactor* reactor = ThisReactor();
  return reactor == nullptr ? 0 : reactor->SetTimer(hwnd, id, intervalMs);
}

bool KillTimer(HWND hwnd, UINT_PTR id) {
  Reactor* reactor = ThisReactor();
  return reactor != nullptr && reactor->KillTimer(hwnd, id);
}

int WSAAsyncSelect(int socket, HWND hwnd, UINT message, long events) {
  Reactor* reactor = ThisReactor();
  if (reactor == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return reactor->AsyncSelect(socket, hwnd, message, events);
}

void Sleep(DWORD milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000u), static_cast<long>((milliseconds % 1000u) * 1000000u)};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

std::uint64_t GetTickCount64() { return MonotonicMs(); }
