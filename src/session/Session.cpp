#include "Session.h"

#include "Statement.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QTimer>

#include <chrono>
#include <mysql.h>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace quarvel::session {

namespace {

// What the server says of a statement KILL QUERY ended; a stop that comes before the statement
// was sent ends it the same way.
constexpr unsigned int kQueryInterrupted = 1317;

void shutDownSocket(qintptr socket)
{
#ifdef Q_OS_WIN
    ::shutdown(SOCKET(socket), SD_BOTH);
#else
    ::shutdown(int(socket), SHUT_RDWR);
#endif
}

} // namespace

Session::Session(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<Outcome>();
    qRegisterMetaType<SchemaNames>();
    qRegisterMetaType<std::shared_ptr<const db::ResultSet>>();
}

Session::~Session()
{
    stopAndWait();
    reapHelpers(true);
}

void Session::open(const db::ConnectionParams& params)
{
    m_appliedReadOnly.reset();
    m_inTransaction = false;
    m_params = params;
    m_connection.open(params);
}

void Session::close()
{
    if (!m_running)
        m_connection.close();
}

bool Session::canRun() const
{
    return m_connection.isOpen() || m_connection.lost();
}

bool Session::inTransaction() const
{
    return m_inTransaction;
}

bool Session::start(RunKind kind, const QString& text, bool readOnly)
{
    if (m_running)
        return false;
    joinWorker();
    reapHelpers(false);
    m_running = true;
    m_stopAsked = false;
    const quint64 generation = ++m_generation;
    m_serverThreadId = m_connection.serverThreadId();
    {
        const std::lock_guard lock(m_socketMutex);
        m_runLive = true;
    }
    m_worker = std::thread([this, kind, text, readOnly, generation] {
        const Outcome outcome = work(kind, text, readOnly, generation);
        {
            const std::lock_guard lock(m_socketMutex);
            m_runLive = false;
#ifndef Q_OS_WIN
            if (m_socket >= 0)
                ::close(int(m_socket));
#endif
            m_socket = -1;
        }
        m_runEnded.notify_all();
        post(generation, [this, outcome] { finishRun(outcome); });
    });
    return true;
}

// Runs `call` on the session's thread, unless the run it belongs to is over by then.
void Session::post(quint64 generation, std::function<void()> call)
{
    QMetaObject::invokeMethod(
        this,
        [this, generation, call = std::move(call)] {
            if (generation == m_generation && m_running)
                call();
        },
        Qt::QueuedConnection);
}

namespace {

// Hands a query's rows to the window while they arrive.
class Streamer : public db::ResultSink
{
public:
    Streamer(qint64 byteLimit, std::function<void(std::shared_ptr<const db::ResultSet>)> started,
             std::function<void()> added)
        : m_byteLimit(byteLimit)
        , m_started(std::move(started))
        , m_added(std::move(added))
    {
    }
    std::shared_ptr<db::ResultSet> begin(QList<db::Field> fields) override
    {
        store = std::make_shared<db::ResultSet>(std::move(fields), m_byteLimit);
        m_started(store);
        return store;
    }
    void rowsAdded() override { m_added(); }

    std::shared_ptr<db::ResultSet> store;

private:
    qint64 m_byteLimit;
    std::function<void(std::shared_ptr<const db::ResultSet>)> m_started;
    std::function<void()> m_added;
};

} // namespace

Outcome Session::work(RunKind kind, const QString& text, bool readOnly, quint64 generation)
{
    Outcome outcome;
    outcome.kind = kind;
    if (!m_connection.isOpen()) {
        if (!m_connection.lost()) {
            outcome.notConnected = true;
            return outcome;
        }
        try {
            m_connection.reopen();
        } catch (const db::DbError& e) {
            outcome.notConnected = true;
            outcome.error = e.message();
            outcome.errorCode = e.code();
            return outcome;
        }
        outcome.reconnected = true;
        m_appliedReadOnly.reset();
        m_serverThreadId = m_connection.serverThreadId();
    }
    {
        // A duplicate of the socket, so that shutting it down from another thread can never hit
        // a descriptor that was closed and reused meanwhile.
        const std::lock_guard lock(m_socketMutex);
        const my_socket socket = mysql_get_socket(m_connection.handle());
#ifdef Q_OS_WIN
        m_socket = qintptr(socket);
#else
        m_socket = ::dup(socket);
#endif
    }
    m_rowsPending = false;
    Streamer streamer(
        m_resultByteLimit,
        [this, generation](std::shared_ptr<const db::ResultSet> result) {
            post(generation, [this, result] { emit resultStarted(result); });
        },
        [this, generation, rows = 0, sincePost = QElapsedTimer()]() mutable {
            // The first rows are told at once; later ones every so often, looked at every 256
            // rows (waking the window for each row would take time from the fetch). One notice
            // waits at a time; the window takes every row there is when it comes.
            ++rows;
            if (rows > kPromptRows &&
                ((rows & 255) != 0 || (sincePost.isValid() && sincePost.elapsed() < kNoticeMs)))
                return;
            if (!m_rowsPending.exchange(true, std::memory_order_acq_rel)) {
                sincePost.start();
                post(generation, [this] {
                    m_rowsPending = false;
                    emit rowsArrived();
                });
            }
        });
    try {
        if (m_stopAsked)
            throw db::DbError(QStringLiteral("Query execution was interrupted"), kQueryInterrupted);
        applyMode(readOnly);
        QElapsedTimer timer;
        timer.start();
        // A command's rows (SHOW, DESC, EXPLAIN, WITH ... SELECT) are kept as a query's are.
        outcome.affected = m_connection.run(text, &streamer);
        if (kind == RunKind::Query && !streamer.store) // no statement had columns
            streamer.store = std::make_shared<db::ResultSet>();
        outcome.seconds = double(timer.nsecsElapsed()) / 1e9;
        outcome.ok = true;
    } catch (const db::DbError& e) {
        outcome.error = e.message();
        outcome.errorCode = e.code();
        outcome.failedStatement = e.statement();
        outcome.affectedBefore = e.affectedBefore();
    }
    outcome.result = std::move(streamer.store);
    m_inTransaction = m_connection.inTransaction();
    return outcome;
}

void Session::applyMode(bool readOnly)
{
    // Re-asserted before every run in read-only mode: the text itself may have switched the
    // session. Errors other than a lost connection are left to the text guard (old servers).
    if (!readOnly && m_appliedReadOnly == false)
        return;
    db::Command set(m_connection);
    set.setSql(readOnly ? QStringLiteral("SET SESSION TRANSACTION READ ONLY")
                        : QStringLiteral("SET SESSION TRANSACTION READ WRITE"));
    try {
        set.execute();
        m_appliedReadOnly = readOnly;
    } catch (const db::DbError&) {
        if (m_connection.lost())
            throw;
    }
}

void Session::stop()
{
    if (!m_running || m_stopAsked)
        return;
    m_stopAsked = true;
    db::ConnectionParams params = m_params;
    params.ioTimeoutSeconds = kKillTimeoutSeconds;
    const unsigned long id = m_serverThreadId;
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_helpersDone.push_back(done);
    m_helpers.emplace_back([this, params, id, done] {
        db::Connection killer;
        bool killed = false;
        try {
            if (id != 0) {
                killer.open(params);
                db::Command kill(killer);
                kill.setSql(QStringLiteral("KILL QUERY %1").arg(id));
                kill.execute();
                killed = true;
            }
        } catch (const db::DbError&) {
        }
        if (killed) {
            std::unique_lock lock(m_socketMutex);
            if (m_runEnded.wait_for(lock, std::chrono::milliseconds(kAbandonAfterMs),
                                    [this] { return !m_runLive; })) {
                *done = true;
                return;
            }
        }
        // Still running, or the server could not be asked: the connection goes, so that nothing
        // of the statement keeps running on the server and the worker comes back.
        try {
            if (killed) {
                db::Command kill(killer);
                kill.setSql(QStringLiteral("KILL CONNECTION %1").arg(id));
                kill.execute();
            }
        } catch (const db::DbError&) {
        }
        abandon();
        *done = true;
    });
    // Should the helper itself hang on a server that does not answer, the window does not wait.
    const quint64 generation = m_generation;
    QTimer::singleShot(kAbandonAfterMs, this, [this, generation] {
        if (m_running && generation == m_generation)
            abandon();
    });
}

void Session::readSchema()
{
    if (!m_connection.isOpen())
        return;
    db::ConnectionParams params = m_params;
    params.ioTimeoutSeconds = kSchemaTimeoutSeconds;
    const quint64 generation = ++m_schemaGeneration;
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_helpersDone.push_back(done);
    m_helpers.emplace_back([this, params, generation, done] {
        SchemaNames names;
        try {
            db::Connection reader;
            reader.open(params);
            const auto tables = db::openResult(
                reader, QStringLiteral("SELECT TABLE_NAME FROM information_schema.TABLES"
                                       " WHERE TABLE_SCHEMA = DATABASE() ORDER BY TABLE_NAME"));
            for (int row = 0; row < tables->rowCount(); ++row)
                names.tables << QString::fromUtf8(tables->cell(row, 0).bytes());
            const auto columns = db::openResult(
                reader, QStringLiteral("SELECT TABLE_NAME, COLUMN_NAME FROM information_schema."
                                       "COLUMNS WHERE TABLE_SCHEMA = DATABASE()"
                                       " ORDER BY TABLE_NAME, ORDINAL_POSITION"));
            for (int row = 0; row < columns->rowCount(); ++row)
                names.columns[QString::fromUtf8(columns->cell(row, 0).bytes()).toLower()]
                    << QString::fromUtf8(columns->cell(row, 1).bytes());
        } catch (const db::DbError&) {
            // No names this time; completion keeps the words.
        }
        QMetaObject::invokeMethod(
            this,
            [this, names, generation] {
                if (generation == m_schemaGeneration)
                    emit schemaRead(names);
            },
            Qt::QueuedConnection);
        *done = true;
    });
}

void Session::abandon()
{
    const std::lock_guard lock(m_socketMutex);
    if (m_runLive && m_socket >= 0)
        shutDownSocket(m_socket);
}

void Session::stopAndWait()
{
    if (m_running) {
        stop();
        {
            std::unique_lock lock(m_socketMutex);
            m_runEnded.wait_for(lock, std::chrono::milliseconds(kAbandonAfterMs),
                                [this] { return !m_runLive; });
        }
        abandon();
        joinWorker();
        m_running = false;
        ++m_generation; // its outcome, already on its way, is dropped
    }
    reapHelpers(false);
}

void Session::finishRun(const Outcome& outcome)
{
    joinWorker();
    m_running = false;
    Outcome result = outcome;
    result.stopped = m_stopAsked;
    // A statement that was only waiting (SLEEP) ends without an error when killed; it was
    // stopped all the same, and is reported as the server reports every other stopped one.
    if (result.stopped && result.ok) {
        result.ok = false;
        result.error = QStringLiteral("Query execution was interrupted");
        result.errorCode = kQueryInterrupted;
    }
    reapHelpers(false);
    emit finished(result);
}

void Session::joinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

void Session::reapHelpers(bool all)
{
    for (size_t i = 0; i < m_helpers.size();) {
        if (all || *m_helpersDone[i]) {
            m_helpers[i].join();
            m_helpers.erase(m_helpers.begin() + qsizetype(i));
            m_helpersDone.erase(m_helpersDone.begin() + qsizetype(i));
        } else {
            ++i;
        }
    }
}

} // namespace quarvel::session
