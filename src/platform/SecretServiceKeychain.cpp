#include "platform/SecretServiceKeychain.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

// glib uses "signals" as a member name; Qt defines it as a keyword.
#undef signals
#include <libsecret/secret.h>
#define signals Q_SIGNALS

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace platform {
namespace {

const SecretSchema* schema()
{
    static const SecretSchema s = {
        "org.kestrova.GenericPassword",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"description", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &s;
}

// libsecret's synchronous calls run their own main context; keep them from overlapping. Never
// destroyed: a call given up after its time-out may still hold it when the process exits.
std::mutex& secretMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::atomic<qint64> waitBoundMs{SecretServiceKeychain::defaultWaitBound.count()};
// A call ran out of time: the service does not answer, and no later call of this process waits for it.
std::atomic<bool> unresponsive{false};
// A read failed (a declined unlock prompt among other causes): the user is not asked again in
// this process, and later calls only use what is already unlocked.
std::atomic<bool> noUnlock{false};

struct Attributes {
    GHashTable* table;
    QByteArray service;
    QByteArray account;
    Attributes(const QString& s, const QString& a)
        : table(g_hash_table_new(g_str_hash, g_str_equal)), service(s.toUtf8()), account(a.toUtf8())
    {
        g_hash_table_insert(table, const_cast<char*>("service"), service.data());
        g_hash_table_insert(table, const_cast<char*>("account"), account.data());
    }
    ~Attributes() { g_hash_table_unref(table); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
};

QString takeError(GError*& error)
{
    QString text = error && error->message ? QString::fromUtf8(error->message) : QStringLiteral("unknown Secret Service error");
    g_clear_error(&error);
    return text;
}

const QString lockedText = QStringLiteral("the keychain is locked");

// The first item with this service and account, its secret loaded, or nullptr. An item that stays
// locked is an error.
SecretItem* findItem(const Attributes& attrs, bool mayUnlock, GCancellable* cancellable, KeychainStatus* status,
                     QString* errorText)
{
    GError* error = nullptr;
    const int flags = SECRET_SEARCH_LOAD_SECRETS | (mayUnlock ? SECRET_SEARCH_UNLOCK : 0);
    GList* items = secret_service_search_sync(nullptr, schema(), attrs.table, static_cast<SecretSearchFlags>(flags),
                                              cancellable, &error);
    if (error) {
        *status = KeychainStatus::Error;
        *errorText = takeError(error);
        g_list_free_full(items, g_object_unref);
        return nullptr;
    }
    SecretItem* item = items ? SECRET_ITEM(g_object_ref(items->data)) : nullptr;
    g_list_free_full(items, g_object_unref);
    if (item && secret_item_get_locked(item)) {
        // Still locked after the unlock attempt (a declined prompt), or not to be unlocked at all.
        g_object_unref(item);
        *status = KeychainStatus::Error;
        *errorText = QStringLiteral("the keychain item is locked");
        return nullptr;
    }
    *status = item ? KeychainStatus::Success : KeychainStatus::ItemNotFound;
    return item;
}

// True when storing into the default collection needs no prompt: it exists and is unlocked.
bool defaultCollectionOpen(GCancellable* cancellable, QString* errorText)
{
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, cancellable, &error);
    if (!service) {
        *errorText = takeError(error);
        return false;
    }
    SecretCollection* collection =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancellable, &error);
    g_object_unref(service);
    if (!collection) {
        *errorText = error ? takeError(error) : lockedText;
        return false;
    }
    const bool open = !secret_collection_get_locked(collection);
    g_object_unref(collection);
    if (!open)
        *errorText = lockedText;
    return open;
}

QString boundText(qint64 ms)
{
    return QString::number(static_cast<double>(ms) / 1000.0, 'g', 4) + QStringLiteral(" s");
}

// One call handed to a thread of its own, shared with it: a caller that stops waiting leaves it behind.
struct Call {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool writes = false; // changes an item: worth finishing at quit
    KeychainLookup result;
    QEventLoop* waiter = nullptr; // the GUI thread's nested loop, while it waits
    GCancellable* cancellable = g_cancellable_new();
    Call() = default;
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    ~Call() { g_object_unref(cancellable); }
};

using Clock = std::chrono::steady_clock;

// How long the calls of the shutdown (the settings window saving what was typed, a write still
// out) may take, counted from the start of the quit, before the rest are given up.
constexpr std::chrono::milliseconds quitBudget{1000};
// Then, for the given-up calls to return: cancelled D-Bus calls return at once. Both together stay
// well inside the 2 s a termination may take.
constexpr std::chrono::milliseconds cancelWait{500};

// The calls still running. A thread inside libsecret when the process exits can crash it (libgcrypt's
// memory goes away under it), so the end of the quit cancels them and waits a little for them to end.
struct InFlight {
    std::mutex mutex;
    std::condition_variable ended;
    std::vector<std::shared_ptr<Call>> calls;
    bool quitting = false; // the application is shutting down: calls still run, up to quitDeadline
    bool givenUp = false;  // the shutdown is over: every call fails at once
    Clock::time_point quitDeadline;
};

InFlight& inFlight()
{
    static auto* state = new InFlight;
    return *state;
}

const QString quittingText = QStringLiteral("the keychain request was given up as the application quits");

// The application starts to quit (aboutToQuit): the calls of its shutdown still run, within the budget.
void beginQuit()
{
    InFlight& f = inFlight();
    std::lock_guard lock(f.mutex);
    if (f.quitting)
        return;
    f.quitting = true;
    f.quitDeadline = Clock::now() + quitBudget;
}

// The application object goes (after every aboutToQuit handler): writes still out get the rest of
// the budget, then everything left is cancelled.
void endCallsForQuit()
{
    beginQuit();
    InFlight& f = inFlight();
    std::unique_lock lock(f.mutex);
    f.ended.wait_until(lock, f.quitDeadline, [&] {
        return std::none_of(f.calls.begin(), f.calls.end(), [](const auto& call) { return call->writes; });
    });
    f.givenUp = true;
    for (const auto& call : f.calls)
        g_cancellable_cancel(call->cancellable);
    f.ended.wait_for(lock, cancelWait, [&] { return f.calls.empty(); });
}

// Runs `work` (under the libsecret lock) on a thread of its own and waits at most the bound for it;
// during the quit no longer than the quit's budget.
KeychainLookup runBounded(bool writes, std::function<KeychainLookup(GCancellable*)> work)
{
    static std::once_flag quitHook;
    std::call_once(quitHook, [] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, [] { beginQuit(); });
        // Called as the application object is destroyed, after aboutToQuit and its handlers,
        // whatever order those were connected in.
        qAddPostRoutine(endCallsForQuit);
    });
    if (unresponsive.load())
        return {KeychainStatus::Error, {}, QStringLiteral("the Secret Service did not answer an earlier request")};
    const Clock::time_point boundEnd = Clock::now() + std::chrono::milliseconds(waitBoundMs.load());
    auto call = std::make_shared<Call>();
    call->writes = writes;
    {
        InFlight& f = inFlight();
        std::lock_guard lock(f.mutex);
        if (f.givenUp)
            return {KeychainStatus::Error, {}, quittingText};
        f.calls.push_back(call);
    }
    std::thread([call, work = std::move(work)] {
        KeychainLookup result;
        {
            std::lock_guard secretLock(secretMutex());
            if (g_cancellable_is_cancelled(call->cancellable))
                result = {KeychainStatus::Error, {}, QStringLiteral("cancelled")};
            else
                result = work(call->cancellable);
        }
        {
            InFlight& f = inFlight();
            std::lock_guard lock(f.mutex);
            std::erase(f.calls, call);
            f.ended.notify_all();
        }
        std::lock_guard lock(call->mutex);
        call->result = std::move(result);
        call->done = true;
        call->finished.notify_all();
        // The result travels under the call's lock; only a bare wake-up goes through Qt's event
        // queue, whose locking a thread checker cannot follow.
        if (call->waiter)
            QMetaObject::invokeMethod(call->waiter, "quit", Qt::QueuedConnection);
    }).detach();

    // The end of the wait: the bound, or the quit's deadline once the quit has begun.
    auto waitEnd = [boundEnd](bool* byQuit) {
        InFlight& f = inFlight();
        std::lock_guard lock(f.mutex);
        *byQuit = f.quitting && f.quitDeadline < boundEnd;
        return *byQuit ? f.quitDeadline : boundEnd;
    };
    bool byQuit = false;
    Clock::time_point end = waitEnd(&byQuit);
    QCoreApplication* app = QCoreApplication::instance();
    if (!byQuit && app && QThread::currentThread() == app->thread()) {
        // The GUI thread keeps serving its events (tray, hot keys, the termination signal) meanwhile.
        // QCoreApplication::exit ends this loop too; the wait then goes on as during the quit.
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        bool timedOut = false;
        QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
            timedOut = true;
            loop.quit();
        });
        QObject::connect(app, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
        bool wait = false;
        {
            std::lock_guard lock(call->mutex);
            if (!call->done) {
                call->waiter = &loop;
                wait = true;
            }
        }
        if (wait) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            timer.start(static_cast<int>(std::max<qint64>(left.count(), 0)));
            loop.exec();
        }
        bool done;
        {
            std::lock_guard lock(call->mutex);
            call->waiter = nullptr;
            done = call->done;
        }
        // Ended by neither the answer nor the bound: the application is quitting (aboutToQuit
        // comes only once the main loop has returned).
        if (!done && !timedOut)
            beginQuit();
        end = waitEnd(&byQuit);
    }
    {
        // Elsewhere, and during the quit also on the GUI thread: no events are served any more.
        std::unique_lock lock(call->mutex);
        call->finished.wait_until(lock, end, [&] { return call->done; });
        if (call->done)
            return call->result;
    }
    g_cancellable_cancel(call->cancellable);
    if (byQuit)
        return {KeychainStatus::Error, {}, quittingText};
    unresponsive.store(true);
    return {KeychainStatus::Error, {}, QStringLiteral("the Secret Service did not answer within ") + boundText(waitBoundMs.load())};
}

} // namespace

const char* SecretServiceKeychain::schemaName()
{
    return schema()->name;
}

void SecretServiceKeychain::setWaitBoundForTesting(std::chrono::milliseconds bound)
{
    waitBoundMs.store(bound.count());
}

KeychainLookup SecretServiceKeychain::lookup(const QString& service, const QString& account)
{
    const bool mayUnlock = !noUnlock.load();
    KeychainLookup result = runBounded(false, [service, account, mayUnlock](GCancellable* cancellable) {
        KeychainLookup found;
        Attributes attrs(service, account);
        SecretItem* item = findItem(attrs, mayUnlock, cancellable, &found.status, &found.errorText);
        if (!item)
            return found;
        SecretValue* value = secret_item_get_secret(item);
        if (!value) {
            found.status = KeychainStatus::Error;
            found.errorText = QStringLiteral("the keychain item is locked");
        } else {
            gsize length = 0;
            const gchar* bytes = secret_value_get(value, &length);
            found.data = QByteArray(bytes, static_cast<qsizetype>(length));
            secret_value_unref(value);
        }
        g_object_unref(item);
        return found;
    });
    if (result.status == KeychainStatus::Error)
        noUnlock.store(true);
    return result;
}

KeychainStatus SecretServiceKeychain::update(const QString& service, const QString& account, const QByteArray& data,
                                             QString* errorText)
{
    const bool mayUnlock = !noUnlock.load();
    const KeychainLookup result = runBounded(true, [service, account, data, mayUnlock](GCancellable* cancellable) {
        KeychainLookup outcome;
        Attributes attrs(service, account);
        SecretItem* item = findItem(attrs, mayUnlock, cancellable, &outcome.status, &outcome.errorText);
        if (!item)
            return outcome;
        SecretValue* value = secret_value_new(data.constData(), data.size(), "text/plain");
        GError* gerror = nullptr;
        const gboolean ok = secret_item_set_secret_sync(item, value, cancellable, &gerror);
        secret_value_unref(value);
        g_object_unref(item);
        if (!ok)
            return KeychainLookup{KeychainStatus::Error, {}, takeError(gerror)};
        return KeychainLookup{KeychainStatus::Success, {}, {}};
    });
    if (result.status != KeychainStatus::Success && errorText)
        *errorText = result.errorText;
    return result.status;
}

KeychainStatus SecretServiceKeychain::add(const QString& service, const QString& account, const QByteArray& data,
                                          const QString& label, const QString& description, QString* errorText)
{
    const bool mayUnlock = !noUnlock.load();
    const KeychainLookup result = runBounded(true, [service, account, data, label, description,
                                              mayUnlock](GCancellable* cancellable) {
        QString error;
        // Storing into a locked (or missing) default collection would prompt.
        if (!mayUnlock && !defaultCollectionOpen(cancellable, &error))
            return KeychainLookup{KeychainStatus::Error, {}, error};
        Attributes attrs(service, account);
        const QByteArray descriptionBytes = description.toUtf8();
        g_hash_table_insert(attrs.table, const_cast<char*>("description"), const_cast<char*>(descriptionBytes.constData()));
        SecretValue* value = secret_value_new(data.constData(), data.size(), "text/plain");
        GError* gerror = nullptr;
        const gboolean ok = secret_service_store_sync(nullptr, schema(), attrs.table, SECRET_COLLECTION_DEFAULT,
                                                      label.toUtf8().constData(), value, cancellable, &gerror);
        secret_value_unref(value);
        if (!ok)
            return KeychainLookup{KeychainStatus::Error, {}, takeError(gerror)};
        return KeychainLookup{KeychainStatus::Success, {}, {}};
    });
    if (result.status != KeychainStatus::Success && errorText)
        *errorText = result.errorText;
    return result.status;
}

} // namespace platform
