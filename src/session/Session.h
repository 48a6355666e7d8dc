#pragma once

#include "Connection.h"
#include "ResultSet.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace quarvel::session {

enum class RunKind
{
    Command, // run for its effect: the affected rows are counted (and rows it returns kept)
    Query,   // run for its rows: the first result with columns is kept
};

// What one run came to, handed back as a value.
struct Outcome
{
    RunKind kind = RunKind::Command;
    bool ok = false;
    // No connection, and none could be made (the database is not there).
    bool notConnected = false;
    // The connection had been lost and was made again for this run: the old session's open
    // transaction, USE and session variables are gone.
    bool reconnected = false;
    // The user asked to stop this run. A query stopped while its rows arrived keeps the rows
    // received so far in `result`.
    bool stopped = false;
    quint64 affected = 0;
    // Sending the text and fetching the whole answer, measured on the worker.
    double seconds = 0;
    // The first result that has columns, complete when ok, else what arrived; null when none
    // began (a query that returned nothing with columns gets an empty result).
    std::shared_ptr<const db::ResultSet> result;
    QString error;
    unsigned int errorCode = 0;
    // Of a text of several statements: the one that failed (1-based) and what those before it
    // affected.
    int failedStatement = 0;
    quint64 affectedBefore = 0;
};

// The names of the connected database: its tables and views, and their columns by table name
// in lower case.
struct SchemaNames
{
    QStringList tables;
    QHash<QString, QStringList> columns;
};

// The window's one way to the database. It owns the connection, runs a text on a worker thread
// of its own (the worker owns the connection while it runs), applies the server's read-only
// session before every run in read-only mode and once after a switch to writable, reconnects a
// lost connection at the next run, times the run, and stops it: KILL QUERY from a second,
// short-lived connection, and when that does not end it within a few seconds (or the server
// can't be reached), KILL CONNECTION and the working socket shut down, so that the worker
// returns with a lost connection and the next run connects again.
//
// Threads: every public member is for the thread that made the session (the user-interface
// thread), and `finished` is emitted there. The connection may be touched through connection()
// only while no run is in flight.
class Session : public QObject
{
    Q_OBJECT
public:
    explicit Session(QObject* parent = nullptr);
    // Stops a run in flight and waits for it (a few seconds at most) and for the helpers.
    ~Session() override;

    // Connects on the calling thread. Throws DbError.
    void open(const db::ConnectionParams& params);
    void close();
    // Open, or lost and to be made again at the next run.
    bool canRun() const;
    db::Connection& connection() { return m_connection; }
    // The parameters the connection was last opened with (also when that failed).
    const db::ConnectionParams& params() const { return m_params; }
    // Whether the server reported an open transaction at the end of the last run.
    bool inTransaction() const;

    // The most a query's result may hold (default: three quarters of the machine's memory).
    void setResultByteLimit(qint64 bytes) { m_resultByteLimit = bytes; }

    // Starts a run; `finished` follows. Nothing is started while a run is in flight.
    bool start(RunKind kind, const QString& text, bool readOnly);
    bool isRunning() const { return m_running; }
    // Asks the run in flight to stop (see the class comment). Harmless when idle.
    void stop();
    // Stops a run in flight and waits for it; its outcome is dropped. For closing the window.
    void stopAndWait();

    // Reads the database's table and column names on a helper connection of its own, in the
    // background; `schemaRead` follows (unless a later read overtook it).
    void readSchema();

    // Grace a killed statement has to end before its connection is abandoned.
    static constexpr int kAbandonAfterMs = 2000;
    // Rows told to the window as soon as each arrives; after them, a notice at most this often.
    static constexpr int kPromptRows = 256;
    static constexpr int kNoticeMs = 100;
    // Read/write time-out of the helper connection that reads the names.
    static constexpr unsigned int kSchemaTimeoutSeconds = 30;
    // Read/write time-out of the helper connection that sends KILL.
    static constexpr unsigned int kKillTimeoutSeconds = 3;

signals:
    // A query's result has begun: its rows follow into `result` while they arrive.
    void resultStarted(const std::shared_ptr<const quarvel::db::ResultSet>& result);
    // More rows are in that result (coalesced: at most one is waiting at a time).
    void rowsArrived();
    void finished(const quarvel::session::Outcome& outcome);
    void schemaRead(const quarvel::session::SchemaNames& names);

private:
    Outcome work(RunKind kind, const QString& text, bool readOnly, quint64 generation);
    void post(quint64 generation, std::function<void()> call);
    void applyMode(bool readOnly);
    void armAbandon();
    void abandon();
    void finishRun(const Outcome& outcome);
    void joinWorker();
    void reapHelpers(bool all);

    db::Connection m_connection;
    db::ConnectionParams m_params;         // as opened; the helper that sends KILL uses them
    std::optional<bool> m_appliedReadOnly; // the session's mode on the server, when known

    std::thread m_worker;
    bool m_running = false;
    std::atomic<bool> m_stopAsked{false};
    std::atomic<unsigned long> m_serverThreadId{0};
    std::atomic<bool> m_inTransaction{false};
    std::atomic<bool> m_rowsPending{false};
    std::atomic<qint64> m_resultByteLimit{db::ResultSet::defaultByteLimit()};

    // The working socket while a run is in flight, for abandoning it from any thread.
    std::mutex m_socketMutex;
    qintptr m_socket = -1;
    std::condition_variable m_runEnded;
    bool m_runLive = false;

    // Short-lived helpers (the KILL sender, the name reader), joined when done or at the end.
    std::vector<std::thread> m_helpers;
    std::vector<std::shared_ptr<std::atomic<bool>>> m_helpersDone;
    quint64 m_generation = 0;
    quint64 m_schemaGeneration = 0;
};

} // namespace quarvel::session

Q_DECLARE_METATYPE(quarvel::session::Outcome)
Q_DECLARE_METATYPE(quarvel::session::SchemaNames)
Q_DECLARE_METATYPE(std::shared_ptr<const quarvel::db::ResultSet>)
