#include "packet/MemberDeflater.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace et4 {

namespace {

// Deflate keeps a window of 32 KiB: priming a chunk with that much of what
// precedes it lets it refer back just as one stream would.
constexpr std::size_t kWindow = 32 * 1024;

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Reads exactly n bytes at offset; false with errno set otherwise (EIO for
// a file that ended early: it changed after it was measured).
bool ReadAt(int fd, unsigned char* p, std::size_t n, std::uint64_t offset)
{
    while (n > 0) {
        ssize_t got = ::pread(fd, p, n, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0) {
            errno = EIO;
            return false;
        }
        p += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

// Raw deflate (no zlib header): what a zip member holds.
bool InitRaw(z_stream& z, int iLevel)
{
    std::memset(&z, 0, sizeof z);
    return deflateInit2(&z, iLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

// Deflates n bytes at p into out (resized to fit); iFlush Z_SYNC_FLUSH
// leaves the stream open on a byte boundary, Z_FINISH ends it.
bool DeflateAll(z_stream& z, const unsigned char* p, std::size_t n, int iFlush,
                std::vector<unsigned char>& out)
{
    out.resize(deflateBound(&z, static_cast<uLong>(n)) + 64);
    z.next_in = const_cast<Bytef*>(p);
    z.avail_in = static_cast<uInt>(n);
    std::size_t nOut = 0;
    for (;;) {
        z.next_out = out.data() + nOut;
        z.avail_out = static_cast<uInt>(out.size() - nOut);
        int r = deflate(&z, iFlush);
        nOut = out.size() - z.avail_out;
        if (r == Z_STREAM_END || (r == Z_OK && z.avail_in == 0 && z.avail_out > 0))
            break;
        if (r != Z_OK && r != Z_BUF_ERROR)
            return false;
        out.resize(out.size() * 2);
    }
    out.resize(nOut);
    return true;
}

} // namespace

Trial TryDeflate(const std::string& path)
{
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return Trial::Unreadable;
    std::vector<unsigned char> in(kTrialBytes);
    std::size_t n = 0;
    while (n < in.size()) {
        ssize_t got = ::read(fd.get(), in.data() + n, in.size() - n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Trial::Unreadable;
        if (got == 0)
            break;
        n += static_cast<std::size_t>(got);
    }
    if (n == 0)
        return Trial::Store;
    // The fastest level tells compressible from incompressible data well
    // enough, at a fraction of the cost of the real level.
    z_stream z;
    if (!InitRaw(z, 1))
        return Trial::Deflate;
    std::vector<unsigned char> out;
    bool bOk = DeflateAll(z, in.data(), n, Z_FINISH, out);
    deflateEnd(&z);
    if (bOk && static_cast<double>(out.size()) > kStoreAboveRatio * static_cast<double>(n))
        return Trial::Store;
    return Trial::Deflate;
}

std::vector<Trial> TryDeflateAll(const std::vector<std::string>& paths, unsigned nThreads)
{
    std::vector<Trial> results(paths.size(), Trial::Store);
    std::atomic<std::size_t> next{0};
    auto work = [&]() {
        for (std::size_t i = next++; i < paths.size(); i = next++)
            results[i] = TryDeflate(paths[i]);
    };
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < nThreads && t < paths.size(); ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    return results;
}

unsigned WorkerCount(unsigned nWanted)
{
    if (nWanted > 0)
        return nWanted;
    unsigned n = std::thread::hardware_concurrency();
    return std::clamp(n, 1u, 8u);
}

MemberDeflater::MemberDeflater(std::vector<Member> members, unsigned nThreads, int iLevel,
                               std::size_t nChunk)
    : m_members(std::move(members)), m_iLevel(iLevel), m_nChunk(std::max(nChunk, kWindow))
{
    for (std::size_t i = 0; i < m_members.size(); ++i) {
        m_firstJob.push_back(m_jobs.size());
        std::uint64_t size = m_members[i].size;
        std::uint64_t offset = 0;
        do {
            std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(size - offset, m_nChunk));
            m_jobs.push_back({i, offset, n, offset + n == size});
            offset += n;
        } while (offset < size);
    }
    m_done.resize(m_members.size());
    nThreads = std::max(nThreads, 1u);
    // Enough chunks ahead that every worker stays busy while the writer
    // copies one out.
    m_slots.resize(2 * static_cast<std::size_t>(nThreads) + 1);
    for (unsigned t = 0; t < nThreads; ++t)
        m_threads.emplace_back([this]() { Work(); });
}

MemberDeflater::~MemberDeflater()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_workCv.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

void MemberDeflater::Work()
{
    z_stream z;
    bool bInit = InitRaw(z, m_iLevel);
    std::vector<unsigned char> input;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_workCv.wait(lock, [&]() {
            return m_bStop || m_iErrno != 0 || m_nextJob >= m_jobs.size() ||
                   m_nextJob < m_consumed + m_slots.size();
        });
        if (m_bStop || m_iErrno != 0 || m_nextJob >= m_jobs.size())
            break;
        std::size_t j = m_nextJob++;
        Slot& slot = m_slots[j % m_slots.size()];
        lock.unlock();
        // The slot is this worker's alone until it is marked ready.
        if (bInit)
            Compress(m_jobs[j], slot, &z, input);
        else
            slot.iErrno = ENOMEM;
        lock.lock();
        slot.bReady = true;
        if (slot.iErrno != 0 && m_iErrno == 0) {
            m_iErrno = slot.iErrno;
            m_failedPath = m_members[m_jobs[j].iMember].path;
        }
        m_readyCv.notify_all();
        if (m_iErrno != 0)
            m_workCv.notify_all();
    }
    lock.unlock();
    if (bInit)
        deflateEnd(&z);
}

void MemberDeflater::Compress(const Job& job, Slot& slot, void* pStream,
                              std::vector<unsigned char>& input)
{
    z_stream& z = *static_cast<z_stream*>(pStream);
    slot.iErrno = 0;
    Fd fd(::open(m_members[job.iMember].path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        slot.iErrno = errno;
        return;
    }
    std::size_t nDict = static_cast<std::size_t>(std::min<std::uint64_t>(job.offset, kWindow));
    input.resize(nDict + job.length);
    if (!ReadAt(fd.get(), input.data(), input.size(), job.offset - nDict)) {
        slot.iErrno = errno ? errno : EIO;
        return;
    }
    // The last chunk must really end the file: one that grew would be cut.
    if (job.bLast) {
        unsigned char probe;
        if (::pread(fd.get(), &probe, 1, static_cast<off_t>(job.offset + job.length)) != 0) {
            slot.iErrno = EIO;
            return;
        }
    }
    const unsigned char* pChunk = input.data() + nDict;
    slot.crc = static_cast<std::uint32_t>(crc32(0L, pChunk, static_cast<uInt>(job.length)));
    if (deflateReset(&z) != Z_OK ||
        (nDict > 0 && deflateSetDictionary(&z, input.data(), static_cast<uInt>(nDict)) != Z_OK) ||
        !DeflateAll(z, pChunk, job.length, job.bLast ? Z_FINISH : Z_SYNC_FLUSH, slot.data))
        slot.iErrno = ENOMEM;
}

int MemberDeflater::Errno() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_iErrno;
}

std::string MemberDeflater::FailedPath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failedPath;
}

long long MemberDeflater::Read(std::size_t iMember, unsigned char* pBuffer, std::size_t nMax)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    MemberState& state = m_done[iMember];
    if (m_iErrno != 0)
        return -1;
    if (state.bFinished)
        return 0;
    if (m_consumed >= m_jobs.size() || m_jobs[m_consumed].iMember != iMember) {
        // Read out of order: the writer would get bytes of another member.
        m_iErrno = EINVAL;
        m_failedPath = m_members[iMember].path;
        m_workCv.notify_all();
        return -1;
    }
    Slot& slot = m_slots[m_consumed % m_slots.size()];
    m_readyCv.wait(lock, [&]() { return slot.bReady || m_iErrno != 0; });
    if (m_iErrno != 0)
        return -1;
    std::size_t n = std::min(nMax, slot.data.size() - m_offsetInSlot);
    std::memcpy(pBuffer, slot.data.data() + m_offsetInSlot, n);
    m_offsetInSlot += n;
    if (m_offsetInSlot == slot.data.size()) {
        const Job& job = m_jobs[m_consumed];
        state.crc = static_cast<std::uint32_t>(
            crc32_combine(state.crc, slot.crc, static_cast<z_off_t>(job.length)));
        state.nCompressed += slot.data.size();
        state.bFinished = job.bLast;
        slot.bReady = false;
        m_offsetInSlot = 0;
        ++m_consumed;
        m_workCv.notify_all();
    }
    return static_cast<long long>(n);
}

} // namespace et4
