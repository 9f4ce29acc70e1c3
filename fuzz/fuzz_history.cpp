// SPDX-License-Identifier: MIT
// The history as a user's disk may hold it: any bytes where history.sqlite
// should be, opened by the sleep ledger alone and by the database the ledger
// and the history store share. A reader must read it or say once why not;
// the monitor must read it, or set it aside whole as history.sqlite.corrupt
// with one message and begin again, or say once why it cannot. Never a
// crash, and no record, sample or discharge read back may hold an infinity
// or a NaN.
#include "FuzzSupport.h"
#include "history/HistoryStore.h"
#include "sleep/SleepLedger.h"
#include "support/Records.h"

#include <cmath>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using namespace drainwatch;

namespace {

struct Said {
    std::vector<std::string> messages;
    SleepLedger::Report report()
    {
        return [this](const std::string& m) { messages.push_back(m); };
    }
};

std::string readFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool finite(const std::optional<double>& value) { return !value || std::isfinite(*value); }

void checkRecord(const SleepRecord& r)
{
    if (!std::isfinite(r.start) || !std::isfinite(r.end) || !std::isfinite(r.chargeBefore) ||
        !std::isfinite(r.chargeAfter) || !std::isfinite(r.usedPercentage) || !finite(r.asleepSeconds) ||
        !finite(r.usedMAh) || !finite(r.usedMWh) || !finite(r.ratePerHour) || !finite(r.milliwatts) ||
        !finite(r.hardwareSleep))
        drainwatch::fuzz::fail("a record read back holds inf or nan");
}

// Everything the monitor, the window and --sleeps read.
void readAll(const SleepLedger& ledger)
{
    const auto records = ledger.records();
    for (const auto& r : records)
        checkRecord(r);
    const auto newest = ledger.newest(5);
    if (newest.size() > records.size() || newest.size() > 5)
        drainwatch::fuzz::fail("newest gives more records than there are");
    for (const auto& r : newest)
        checkRecord(r);
    const auto latest = ledger.latest();
    if (latest.has_value() != !records.empty())
        drainwatch::fuzz::fail("latest and records disagree");
    if (latest)
        checkRecord(*latest);
    for (const auto& mode :
         {std::optional<std::string>("deep"), std::optional<std::string>("s2idle"), std::optional<std::string>()})
        for (double rate : ledger.comparableRates(mode, 10))
            if (!std::isfinite(rate))
                drainwatch::fuzz::fail("a comparable rate is inf or nan");
}

void checkStore(const HistoryStore& store)
{
    for (const auto& s : store.samples(-1e300, 1e300))
        if (!std::isfinite(s.time) || !std::isfinite(s.charge) || !finite(s.currentMA) || !finite(s.volts) ||
            !finite(s.fullMAh) || !finite(s.designMAh))
            drainwatch::fuzz::fail("a sample read back holds inf or nan");
    for (const auto& d : store.discharges())
        for (double figure : {d.start, d.end, d.awakeSeconds, d.totalSeconds, d.chargeAtStart, d.chargeAtEnd,
                              d.usedInSleep, d.extrapolatedSeconds, d.extrapolatedWithoutSleepSeconds, d.averageMA})
            if (!std::isfinite(figure))
                drainwatch::fuzz::fail("a discharge read back holds inf or nan");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static const fs::path home = drainwatch::fuzz::scratchFolder("history");
    setenv("XDG_STATE_HOME", home.c_str(), 1);
    return 0;
}

namespace {

fs::path writeInput(const std::string& bytes)
{
    fs::path file = SleepLedger::defaultPath("history.sqlite");
    fs::remove_all(file.parent_path());
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

// The ledger alone, as --sleeps and the sleep tracker open it.
void throughTheLedger(const std::string& bytes)
{
    const fs::path file = writeInput(bytes);
    const fs::path aside = file.string() + ".corrupt";

    // --sleeps reads first: it changes nothing, and says at most one thing.
    {
        Said said;
        SleepLedger reader(file, SleepLedger::Access::ReadOnly, said.report());
        if (said.messages.size() > 1)
            drainwatch::fuzz::fail("the reader said more than one thing");
        if (reader.isOpen() && !said.messages.empty())
            drainwatch::fuzz::fail("the reader opened the file and said something was wrong");
        readAll(reader);
    }
    if (fs::exists(aside) || readFile(file) != bytes)
        drainwatch::fuzz::fail("reading changed the file");

    Said said;
    SleepLedger ledger(file, SleepLedger::Access::ReadWrite, said.report());
    if (said.messages.size() > 1)
        drainwatch::fuzz::fail("opening said more than one thing");
    const bool setAside = fs::exists(aside);
    if (setAside) {
        if (readFile(aside) != bytes)
            drainwatch::fuzz::fail("the file set aside is not the file that was there");
        if (said.messages.empty() || said.messages[0].find(aside.string()) == std::string::npos)
            drainwatch::fuzz::fail("a file set aside without saying where");
    }
    if (!ledger.isOpen()) {
        // A newer schema, or a file it cannot read: left as it was.
        if (said.messages.size() != 1)
            drainwatch::fuzz::fail("the history is not kept and nothing said why");
        readAll(ledger);
        return;
    }
    if (!setAside && !said.messages.empty())
        drainwatch::fuzz::fail("a message about a file that opened and was not set aside");
    readAll(ledger);
    if (setAside && !ledger.records().empty())
        drainwatch::fuzz::fail("a new history begins with records in it");

    // A file that opened takes the next record, and gives it back.
    const auto before = ledger.records().size();
    const SleepRecord record = test::sleepRecord();
    if (!ledger.add(record))
        drainwatch::fuzz::fail("a history that opened takes no record");
    if (ledger.latest() != record || ledger.records().size() != before + 1)
        drainwatch::fuzz::fail("the record added does not read back");
    if (said.messages.size() > 1)
        drainwatch::fuzz::fail("more than one message");
    readAll(ledger);
}

// The one connection the monitor shares between the ledger and the store.
void throughTheDatabase(const std::string& bytes)
{
    const fs::path file = writeInput(bytes);
    {
        Said said;
        HistoryDatabase reader(file, HistoryDatabase::Access::ReadOnly, said.report());
        if (said.messages.size() > 1 || (reader.isOpen() && !said.messages.empty()))
            drainwatch::fuzz::fail("the history's reader said more than it should");
        const SleepLedger ledger(reader);
        readAll(ledger);
        checkStore(HistoryStore(reader));
    }
    Said said;
    HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, said.report());
    if (said.messages.size() > 1)
        drainwatch::fuzz::fail("opening the history said more than one thing");
    SleepLedger ledger(database);
    HistoryStore store(database);
    readAll(ledger);
    checkStore(store);
    if (!database.isOpen())
        return;
    const auto before = store.samples(-1e300, 1e300).size();
    HistorySample sample;
    sample.time = 1800000000;
    sample.charge = 0.5;
    sample.event = "start";
    store.addSample(sample);
    if (!store.flush() || store.samples(-1e300, 1e300).size() != before + 1)
        drainwatch::fuzz::fail("a history that opened takes no sample");
    const auto discharges = store.discharges().size();
    DischargeRecord discharge;
    discharge.start = 1800000000;
    discharge.end = 1800003600;
    store.addDischarge(discharge);
    if (store.discharges().size() != discharges + 1)
        drainwatch::fuzz::fail("a history that opened takes no discharge");
    if (!ledger.add(test::sleepRecord()) || ledger.latest() != test::sleepRecord())
        drainwatch::fuzz::fail("the shared history takes no record");
    if (said.messages.size() > 1)
        drainwatch::fuzz::fail("more than one message");
    checkStore(store);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    throughTheLedger(bytes);
    throughTheDatabase(bytes);
    return 0;
}
