#include "AllocationFaults.h"
#include "ComObject.h"
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int> g_newCountdown{0};

void* Allocate(std::size_t size) {
    int left = g_newCountdown.load();
    while (left > 0 && !g_newCountdown.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 1)
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

namespace tv::mail::testing {

void FailNthNew(int n) {
    g_newCountdown = n;
}

// The spy COM calls around every task allocation while it is registered.
class TaskAllocationFault::Spy final : public com::ComObject<Spy, IMallocSpy> {
  public:
    explicit Spy(SIZE_T refusedSize) : refusedSize_(refusedSize) {}

    // Returning 0 for a non-zero request makes the allocation fail.
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T request) override {
        if (refusedSize_ != 0 && request == refusedSize_) {
            ++refused_;
            return 0;
        }
        return request;
    }
    STDMETHODIMP_(void*) PostAlloc(void* actual) override {
        if (actual)
            ++outstanding_;
        return actual;
    }
    STDMETHODIMP_(void*) PreFree(void* request, BOOL spyed) override {
        if (request && spyed)
            --outstanding_;
        return request;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL) override {
        *newRequest = request;
        return size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* actual, BOOL) override { return actual; }
    STDMETHODIMP_(void*) PreGetSize(void* request, BOOL) override { return request; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* request, BOOL) override { return request; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

    long Refused() const { return refused_; }
    long Outstanding() const { return outstanding_; }

  private:
    SIZE_T refusedSize_;
    std::atomic<long> refused_{0};
    std::atomic<long> outstanding_{0};
};

TaskAllocationFault::TaskAllocationFault(SIZE_T refusedSize) {
    registered_ =
        SUCCEEDED(com::MakeComObject(spy_, refusedSize)) && SUCCEEDED(CoRegisterMallocSpy(spy_.Get()));
}

TaskAllocationFault::~TaskAllocationFault() {
    // With blocks of the spy still allocated, COM keeps it until they are freed.
    if (registered_)
        CoRevokeMallocSpy();
}

long TaskAllocationFault::Refused() const {
    return spy_->Refused();
}
long TaskAllocationFault::Outstanding() const {
    return spy_->Outstanding();
}

} // namespace tv::mail::testing
