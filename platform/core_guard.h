// Included by every source file of the core library. The core must build and
// run without any GUI library; a Qt Widgets header reaching it is a layering
// fault, caught here at compile time rather than in review.
#pragma once

#if defined(QT_WIDGETS_LIB) || defined(QWIDGET_H) || defined(QAPPLICATION_H)
#error "The core (update/, transfer/, install/, silent/, non-visual platform/) must not use Qt Widgets"
#endif
