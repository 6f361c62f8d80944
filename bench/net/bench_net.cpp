// Transport benchmarks over loopback: bytes through a stream socket pair
// (output queue and drain included), connections set up through the
// connection manager, and host lookups handed back to the event loop.

#include "framework/Window.h"
#include "net/CConnMgr.h"
#include "net/CHost.h"
#include "net/CSocket.h"
#include "net/CWinsock.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kTimeoutMs = 30000;
const std::uint32_t kLoopback = (127u << 24) | 1u;

class Sink : public CStreamCallback {
public:
    void StreamCallback(std::uint32_t, int iEvent, int, const char*) override
    {
        if (iEvent == READ && m_pSocket) {
            for (;;) {
                int iLen = static_cast<int>(m_buf.size());
                if (m_pSocket->Receive(m_buf.data(), iLen) != 0 || iLen == 0)
                    break;
                m_nBytes += static_cast<std::size_t>(iLen);
            }
        } else if (iEvent == WRITE) {
            ++m_nWrites;
        }
    }
    CStreamSocket* m_pSocket = nullptr;
    std::vector<char> m_buf = std::vector<char>(256 * 1024);
    std::size_t m_nBytes = 0;
    std::size_t m_nWrites = 0;
};

class Acceptor : public CStreamCallback {
public:
    Acceptor()
    {
        m_socket.m_pCallback = this;
        m_socket.Listen(CSockAddr(0, kLoopback), 64);
    }
    std::uint16_t Port()
    {
        sockaddr_in a{};
        m_socket.GetSockName(&a);
        return ntohs(a.sin_port);
    }
    void StreamCallback(std::uint32_t, int iEvent, int, const char*) override
    {
        if (iEvent == ACCEPT)
            if (auto p = m_socket.Accept(&m_sink, 0))
                m_accepted.push_back(std::move(p));
    }
    CStreamSocket m_socket;
    Sink m_sink;
    std::vector<std::unique_ptr<CStreamSocket>> m_accepted;
};

class Done : public CConnMgrCallback {
public:
    void ConnMgrCallback(std::uint32_t, int iResult) override { m_iResult = iResult; }
    int m_iResult = INVALID_RESULT;
};

void BM_StreamThroughput(benchmark::State& state)
{
    const std::size_t nChunk = static_cast<std::size_t>(state.range(0));
    const std::size_t nTotal = 64u << 20;
    Acceptor acceptor;
    Sink writer;
    CStreamSocket client;
    client.m_pCallback = &writer;
    Done done;
    CConnMgr connMgr(&done);
    connMgr.Connect("127.0.0.1", acceptor.Port(), &client, &writer, 0);
    fw::MessageLoop::PumpUntil([&] { return done.m_iResult != 0 && !acceptor.m_accepted.empty(); },
                               kTimeoutMs);
    if (done.m_iResult != CConnMgrCallback::CONNECTED) {
        state.SkipWithError("no connection");
        return;
    }
    acceptor.m_sink.m_pSocket = acceptor.m_accepted[0].get();
    std::vector<std::string> chunks(nTotal / nChunk, std::string(nChunk, 'x'));
    for (auto _ : state) {
        std::size_t nStart = acceptor.m_sink.m_nBytes;
        for (const std::string& c : chunks)
            client.Send(c.data(), static_cast<int>(c.size()));
        fw::MessageLoop::PumpUntil(
            [&] { return acceptor.m_sink.m_nBytes - nStart == nTotal && !client.m_pbdHead; },
            kTimeoutMs);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(nTotal));
}
BENCHMARK(BM_StreamThroughput)
    ->Arg(1024)
    ->Arg(64 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ConnectNumeric(benchmark::State& state)
{
    Acceptor acceptor;
    Sink sink;
    CStreamSocket client;
    Done done;
    CConnMgr connMgr(&done);
    std::uint16_t wPort = acceptor.Port();
    for (auto _ : state) {
        done.m_iResult = 0;
        connMgr.Connect("127.0.0.1", wPort, &client, &sink, 0);
        fw::MessageLoop::PumpUntil([&] { return done.m_iResult != 0; }, kTimeoutMs);
        if (done.m_iResult != CConnMgrCallback::CONNECTED) {
            state.SkipWithError("connect failed");
            break;
        }
        client.Close();
        if (acceptor.m_accepted.size() > 32)
            acceptor.m_accepted.clear();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ConnectNumeric)->Unit(benchmark::kMicrosecond)->UseRealTime();

class LookupDone : public CAsyncDBCallback {
public:
    void AsyncDBCallback(std::uint32_t, int iError) override
    {
        m_iError = iError;
        m_bDone = true;
    }
    bool m_bDone = false;
    int m_iError = 0;
};

void BM_LookupLocalhost(benchmark::State& state)
{
    CHost host("localhost");
    LookupDone done;
    for (auto _ : state) {
        done.m_bDone = false;
        host.Start(&done, 0);
        fw::MessageLoop::PumpUntil([&] { return done.m_bDone; }, kTimeoutMs);
        if (done.m_iError != 0) {
            state.SkipWithError("lookup failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_LookupLocalhost)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    CWinsock winsock;
    CreateWinsockEventWindow();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
