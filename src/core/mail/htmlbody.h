#pragma once

// A formatted (HTML) message body made safe to send, and the plain text that goes beside it.

#include <QHash>
#include <QString>
#include <QStringList>

namespace quorvale {

/// `html` with everything removed that would run, fetch or frame something when the message is
/// opened: script, style and similar elements with their content where they could act (script,
/// iframe, object, embed, applet, frame, frameset, svg, math, noscript, template, base, link,
/// meta, form controls), event-handler attributes (on...), pictures and other sources fetched from
/// elsewhere (a src, srcset, background or poster that is not a relative path or "cid:"; an img
/// without a usable src goes whole), links to javascript:, vbscript: or data:, and style that
/// loads anything (url(), @import, expression(), escapes). Comments and processing instructions
/// are dropped; a "<" that starts no tag is written as "&lt;". Tags are written anew, their
/// attribute values double-quoted; text goes through as it was.
QString cleanHtmlBody(const QString &html);

/// The relative picture paths that the img elements of cleaned `html` refer to, each once, in
/// order, as written in their src (entities decoded).
QStringList htmlPicturePaths(const QString &html);

/// `html` cleaned, with the src of every img whose path (as htmlPicturePaths() gives it) is a key
/// of `sources` set to that key's value.
QString replacePictureSources(const QString &html, const QHash<QString, QString> &sources);

/// A plain-text rendering of `html` for readers that show no HTML: tags dropped, entities
/// decoded, blanks collapsed as a browser would, line breaks for <br> and the ends of paragraphs,
/// headings, list items, rows and divisions, "- " before list items, a link's address after its
/// text when it differs. Line ends are CR LF.
QString plainTextOfHtml(const QString &html);

/// `text` with HTML's character references decoded (numeric ones, and the common named ones).
QString decodeHtmlEntities(const QString &text);

/// `html` as an editor saved it, with the "&quot;" inside each field ("{{...}}", closed on its
/// line) written as the '"' it stands for: a field's quoted text (`{{"{{"}}`) then reads as typed.
/// The rest of the markup is left as it is.
QString unescapeFieldQuotes(const QString &html);

/// Whether cleaned `html` shows anything: text other than blanks, or a picture.
bool htmlShowsSomething(const QString &html);

} // namespace quorvale
