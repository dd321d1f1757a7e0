#include "gui/Seam.h"

namespace halvenna {

namespace {

QList<SeamBase*>& registry()
{
    static QList<SeamBase*> seams;
    return seams;
}

bool recordingOn = false;

} // namespace

SeamBase::SeamBase(QString name) : name_(std::move(name))
{
    registry().append(this);
}

SeamBase::~SeamBase()
{
    registry().removeAll(this);
}

void SeamBase::setRecording(bool on)
{
    recordingOn = on;
}

bool SeamBase::recording()
{
    return recordingOn;
}

const QList<SeamBase*>& SeamBase::all()
{
    return registry();
}

} // namespace halvenna
