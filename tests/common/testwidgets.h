// Looking up and driving widgets of a form in tests.
#pragma once

#include <QComboBox>
#include <QObject>
#include <QWidget>

namespace TestWidgets {

// A child of the form by object name; ends the test binary when missing, as
// a renamed widget is a broken test, not a failed check.
template <typename T = QWidget>
T *child(const QObject &parent, const char *name)
{
    T *c = parent.findChild<T *>(QLatin1String(name));
    if (!c)
        qFatal("no widget %s", name);
    return c;
}

template <typename T = QWidget>
T *child(const QObject *parent, const char *name)
{
    return child<T>(*parent, name);
}

// A user's choice in a combo box: the index, then "activated".
inline void choose(QComboBox *box, int index)
{
    box->setCurrentIndex(index);
    emit box->activated(index);
}

} // namespace TestWidgets
