// Numbered pipes of one link and the list of those open.
#pragma once

#include "McpPipe.h"

#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace devlink15 {

class XPipeFactory;
class XMCPLink;

// One open pipe: its name, number and two halves. A missing half is replaced by a null pipe
// (an input that is closed, an output that discards).
class PipeRecord {
  public:
    PipeRecord(std::string name, XPipeFactory* factory, int number, std::unique_ptr<IInputPipe> input,
               std::unique_ptr<IOutputPipe> output);
    virtual ~PipeRecord() = default;
    PipeRecord(const PipeRecord&) = delete;
    PipeRecord& operator=(const PipeRecord&) = delete;

    virtual const char* ClassName() const { return "IPipe"; }
    IInputPipe& Input() { return input_ ? *input_ : nullInput_; }
    IOutputPipe& Output() { return output_ ? *output_ : nullOutput_; }
    bool HasInput() const { return input_ != nullptr; }
    bool HasOutput() const { return output_ != nullptr; }
    int Number() const { return number_; }
    const std::string& Name() const { return name_; }
    XPipeFactory* Factory() const { return factory_; }
    // True when either half is closed.
    bool IsClosed();

  private:
    std::string name_;
    XPipeFactory* factory_;
    int number_;
    NullInputPipe nullInput_;
    NullOutputPipe nullOutput_;
    std::unique_ptr<IInputPipe> input_;
    std::unique_ptr<IOutputPipe> output_;
};

class XPipeFactory {
  public:
    XPipeFactory() = default;
    virtual ~XPipeFactory();
    XPipeFactory(const XPipeFactory&) = delete;
    XPipeFactory& operator=(const XPipeFactory&) = delete;

    virtual const char* ClassName() const { return "XPipeFactory"; }

    // Creates the record and lists it with use count 1; null when it cannot be created.
    PipeRecord* OpenPipe(const std::string& name, int number);
    // The listed record with that number, its use count raised by one; null when none.
    PipeRecord* FindPipe(int number);
    // Drops one use; the last use unlists and destroys the record (true). False when uses
    // remain or the record is not listed.
    bool ClosePipe(PipeRecord* record);
    size_t OpenPipeCount() const;

  protected:
    // Called with the list locked, so that a number can be checked and listed in one step.
    virtual std::unique_ptr<PipeRecord> CreatePipeRecord(const std::string& name, int number);
    bool IsListedLocked(int number) const;

  private:
    struct Node {
        std::unique_ptr<PipeRecord> record;
        int useCount;
    };
    mutable std::mutex listMutex_;
    std::list<Node> pipes_;
};

// Pipe N (1..125) is channel 2N-1 towards the device and channel 2N from it.
class XMCPPipeFactory : public XPipeFactory {
  public:
    static constexpr int kFirstPipe = 1;
    static constexpr int kLastPipe = 125;

    explicit XMCPPipeFactory(XMCPLink* link) : link_(link) {}
    ~XMCPPipeFactory() override;
    const char* ClassName() const override { return "XMCPPipeFactory"; }

  protected:
    std::unique_ptr<PipeRecord> CreatePipeRecord(const std::string& name, int number) override;

  private:
    std::unique_ptr<PipeRecord> OpenPipePair(const std::string& name, int number);
    XMCPLink* link_;
};

} // namespace devlink15
