#pragma once

#include <QList>
#include <QString>

#include <deque>
#include <functional>
#include <type_traits>
#include <utility>

class QWidget;

namespace halvenna {

// What every seam shares, so that a test can reset them all and find answers nobody asked for.
class SeamBase
{
public:
    SeamBase(const SeamBase&) = delete;
    SeamBase& operator=(const SeamBase&) = delete;

    // The seam's name in a test's failure message ("MessageBox", "FileDialog"...).
    const QString& name() const { return name_; }
    virtual int pendingAnswers() const = 0;
    // Drops the queued answers and the requests recorded so far.
    virtual void reset() = 0;
    // Requests are kept only while recording is on (a test turns it on for every seam at once); the
    // program keeps none.
    static void setRecording(bool on);
    static bool recording();

    // Every seam of the program.
    static const QList<SeamBase*>& all();

protected:
    explicit SeamBase(QString name);
    ~SeamBase();

private:
    QString name_;
};

// One modal question of the program: a message box, a file to open or save, the printer's setup,
// the report's output options, a web address handed to the desktop. The program asks it through
// ask(); a dialog shows unless a test has queued an answer, which is then taken instead, in order.
// A queued answer is either a value or a function that looks at the request (and at the program's
// state at that moment) before answering.
template <typename Request, typename Answer> class Seam final : public SeamBase
{
public:
    using Responder = std::function<Answer(const Request&)>;
    using Show = std::function<Answer(const Request&, QWidget* parent)>;

    Seam(QString name, Show show) : SeamBase(std::move(name)), show_(std::move(show)) {}

    Answer ask(const Request& request, QWidget* parent = nullptr)
    {
        if (recording())
            requests_.append(request);
        if (!answers_.empty()) {
            Responder answer = std::move(answers_.front());
            answers_.pop_front();
            return answer(request);
        }
        return show_(request, parent);
    }

    // --- for tests
    // Queues an answer computed when the question is asked.
    void answerWith(Responder responder) { answers_.push_back(std::move(responder)); }
    // Queues a fixed answer.
    template <typename A = Answer>
    requires(!std::is_void_v<A>) void answer(const std::type_identity_t<A>& value)
    {
        answers_.push_back([value](const Request&) { return value; });
    }
    int pendingAnswers() const override { return int(answers_.size()); }
    // What was asked while recording, shown or answered.
    const QList<Request>& requests() const { return requests_; }
    void clearRequests() { requests_.clear(); }
    void reset() override
    {
        answers_.clear();
        requests_.clear();
    }

private:
    Show show_;
    std::deque<Responder> answers_;
    QList<Request> requests_;
};

} // namespace halvenna
