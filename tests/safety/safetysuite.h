// Groups of the safety suite register themselves here; main() runs the group
// named on the command line (or all of them).
#pragma once

#include <QObject>
#include <QVector>
#include <functional>

namespace Safety {

struct Group {
    const char *name;
    std::function<QObject *()> make;
};

QVector<Group> &groups();

struct Registration {
    Registration(const char *name, std::function<QObject *()> make) { groups().append({name, std::move(make)}); }
};

} // namespace Safety

// SAFETY_GROUP("files", FileSafety) in safety_files.cpp.
#define SAFETY_GROUP(name, Class) \
    static const Safety::Registration safetyRegistration_##Class(name, [] { return new Class; });
