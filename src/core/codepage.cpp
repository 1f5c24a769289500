#include "core/codepage.h"

#ifdef CUEPRUNE_HAVE_UCHARDET
#include <uchardet.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <QSet>
#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <optional>
#include <string_view>

namespace cueprune {

namespace {

constexpr char windows1252[] = "windows-1252";

// A legacy code page, by every name it goes by.
struct CodePage
{
    QByteArray name; // Qt's
    QByteArray detectorName; // uchardet's; empty where its answers are not taken
    unsigned windowsCodePage = 0; // GetACP()'s, where Windows has it as an ANSI code page
    // The locales it is the code page of: "zh_TW" (language and territory) or "ru" (any).
    QList<QByteArray> locales;
    enum class Script { Latin, Other, EastAsian } script = Script::Other;
};

// Every code page the tools tell apart. The East Asian multibyte ones come first, in the order
// ties go. For Latin text (French, say) Debian 12's detector guesses among several Latin code
// pages and often wrongly ("Noël" as ISO-8859-2), so its Latin answers are not taken.
const QList<CodePage> &codePages()
{
    using Script = CodePage::Script;
    static const QList<CodePage> pages = {
        { "GB18030", "GB18030", 936, { "zh" }, Script::EastAsian },
        { "Big5", "BIG5", 950, { "zh_TW", "zh_HK", "zh_MO" }, Script::EastAsian },
        { "windows-31j", "SHIFT_JIS", 932, { "ja" }, Script::EastAsian },
        { "windows-949", "EUC-KR", 949, { "ko" }, Script::EastAsian },
        { "EUC-JP", "EUC-JP", 0, {}, Script::EastAsian },
        { "windows-1250", {}, 1250, { "pl", "cs", "sk", "hu", "sl", "hr", "ro" }, Script::Latin },
        { "windows-1251", "WINDOWS-1251", 1251, { "ru", "uk", "be", "bg", "sr", "mk" },
            Script::Other },
        { "windows-1252", {}, 1252, {}, Script::Latin },
        { "windows-1253", "WINDOWS-1253", 1253, { "el" }, Script::Other },
        { "windows-1254", {}, 1254, { "tr", "az" }, Script::Latin },
        { "windows-1255", "WINDOWS-1255", 1255, { "he" }, Script::Other },
        { "windows-1256", "WINDOWS-1256", 1256, { "ar", "fa", "ur" }, Script::Other },
        { "windows-1257", {}, 1257, { "lt", "lv", "et" }, Script::Latin },
        { "windows-1258", {}, 1258, { "vi" }, Script::Latin },
        { "windows-874", {}, 874, { "th" }, Script::Other },
        { "KOI8-R", "KOI8-R", 0, {}, Script::Other },
        { "KOI8-U", "KOI8-U", 0, {}, Script::Other },
        { "IBM866", "IBM866", 0, {}, Script::Other },
        { "ISO-8859-5", "ISO-8859-5", 0, {}, Script::Other },
        { "ISO-8859-6", "ISO-8859-6", 0, {}, Script::Other },
        { "ISO-8859-7", "ISO-8859-7", 0, {}, Script::Other },
        { "ISO-8859-8", "ISO-8859-8", 0, {}, Script::Other },
        { "TIS-620", "TIS-620", 0, {}, Script::Other },
    };
    return pages;
}

const CodePage *codePageNamed(const QByteArray &name)
{
    const auto found = std::find_if(codePages().cbegin(), codePages().cend(),
        [&name](const CodePage &page) { return page.name == name; });
    return found == codePages().cend() ? nullptr : &*found;
}

bool isMultibyte(const QByteArray &name)
{
    const CodePage *page = codePageNamed(name);
    return page != nullptr && page->script == CodePage::Script::EastAsian;
}

// The detector's answer, in Qt's spelling, where the table takes it.
QByteArray detectedCodePage(QByteArrayView text)
{
#ifdef CUEPRUNE_HAVE_UCHARDET
    const uchardet_t detector = uchardet_new();
    QByteArray name;
    if (uchardet_handle_data(detector, text.data(), std::size_t(text.size())) == 0) {
        uchardet_data_end(detector);
        name = QByteArray(uchardet_get_charset(detector)).toUpper();
    }
    uchardet_delete(detector);
    for (const CodePage &page : codePages()) {
        if (!page.detectorName.isEmpty() && page.detectorName == name)
            return page.name;
    }
#else
    Q_UNUSED(text);
#endif
    return {};
}

// text decoded strictly: nothing when a byte sequence is not valid in codePage, or when Qt
// knows no such code page (builds without ICU).
std::optional<QString> decodeStrictly(QByteArrayView text, const QByteArray &codePage)
{
    QStringDecoder decoder(codePage.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    QString decoded = decoder.decode(text);
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
}

// Characters that people write, among those an East Asian code page gives: the most frequent
// Chinese characters (simplified and traditional) and kanji, and the most frequent Hangul
// syllables. Bytes decoded in the wrong code page are valid there more often than not (GBK
// takes almost any pair of high bytes, and kana sit at the same places in GBK and EUC-JP), so
// validity cannot decide; and the detectors need more text than a sheet's few titles hold,
// or mistake GBK with kana for EUC-JP. What tells is whether the decoded text is made of
// characters that are written.
const QSet<char16_t> &frequentCharacters()
{
    static const QSet<char16_t> characters = [] {
        const std::u16string_view lists[] = {
            u"的一是不了人我在有他这中大来上国个到说们为子和你地出道也时年得就那要下以生会自着"
            u"去之过家学对可她里后小么心多天而能好都然没日于起还发成事只作当想看文无开手十用主"
            u"行方又如前所本见经头面公同三已老从动两长知民样现分将外但身些与高意进把法此实回二"
            u"理美点月明其种声全工己话儿者向情部正名定女问力机给等几很业最间新什打便位因重被走"
            u"电四第门相次东政海口使教西再平真听世气信北少关并内加化由却代军产入先山五太水万市"
            u"眼体别处总才场师书比住员九笑性通目华报立马命张活难神数件安表原车白应路期叫死常提"
            u"感金何更反合放做系计或司利受光王果亲界及今京务制解各任至清物台象记边共风战干接它"
            u"许八特觉望直服毛林题建南度统色字请交爱让认算论百吃义科怎元社术结六功指思非流每青"
            u"管夫连远资队跟带花快条院变联言权往展该领传近留红治决周保达办运武半候七必城父强步"
            u"完革深区即求品士转量空甚众技轻程告江语英基派满式李息写呢识极令黄德收脸钱党倒未持"
            u"取设始版双历越史商千片容研像找友孩站广改议形委早房音火际则首单据导影失拿网香似斯"
            u"专石若兵弟谁校读志飞观争究包组造落视济喜离虽坏兴切妈随病歌曲唱乐梦夜雨雪春秋冬夏"
            u"星泪恋永故乡洋朋忆幸福悲伤孤寂寞温柔丽微希昨姑娘妹哥姐伴旋律钢琴吉响奏序幕终精选"
            u"辑演初們這個說來為國時會對後裡麼發從動兩長樣現將實點種聲話兒見經頭開當還沒於過學"
            u"與東門問間聽氣無愛戀淚憶夢歲樂車電語書讀寫網頁專輯選場館體龍鳳華麗風雲燈鐘鄉親嗎"
            u"邊讓認識應該號鐵飛遠進運達齊請謝錄藝術傳統憂傷歡紅綠藍塵緣歸張歷師寶貝壞記鬥劍戰"
            u"紀私僕君彼駅円気桜顔葉約束奇跡魔伝説盤",
            u"이의가는에을를다고하지서로기리한사도자나인대시아수부어정해게전주일들상국보요내우"
            u"성비제그있없것만중세마라소원랑너노래눈물늘바람별꽃길밤날음간억행복추당신처럼모두"
            u"같영히오친구학교엄빠안녕잘네습니입했되까터께테"
        };
        QSet<char16_t> set;
        for (const std::u16string_view list : lists) {
            for (const char16_t character : list)
                set.insert(character);
        }
        return set;
    }();
    return characters;
}

// The share of text's characters beyond ASCII for which counts is true; 0 below two of them,
// too few to tell anything by.
template <typename Counts> double shareBeyondAscii(const QString &text, Counts counts)
{
    qsizetype beyondAscii = 0;
    qsizetype counted = 0;
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            continue;
        ++beyondAscii;
        counted += counts(c.unicode());
    }
    return beyondAscii < 2 ? 0.0 : double(counted) / double(beyondAscii);
}

// How much of text is what East Asian text is written with: kana, CJK punctuation and
// full-width forms, and the frequent ideographs and syllables. Not half-width katakana:
// Shift-JIS reads any lone byte from A1 to DF as one.
double eastAsianPlausibility(const QString &text)
{
    return shareBeyondAscii(text, [](char16_t u) {
        return (u >= 0x3000 && u <= 0x30FF) || (u >= 0xFF01 && u <= 0xFF5E)
            || frequentCharacters().contains(u);
    });
}

// The share of the bytes beyond ASCII that read, in windows-1252, as letters beside an ASCII
// letter: é in "café". Text of other code pages puts its high bytes side by side.
double latinPlausibility(QByteArrayView text)
{
    const auto asciiLetter = [&](qsizetype at) {
        return at >= 0 && at < text.size() && QChar::isLetter(char32_t(uchar(text[at])))
            && uchar(text[at]) < 0x80;
    };
    qsizetype high = 0;
    qsizetype latin = 0;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const uchar byte = uchar(text[at]);
        if (byte < 0x80)
            continue;
        ++high;
        latin += byte >= 0xC0 && (asciiLetter(at - 1) || asciiLetter(at + 1));
    }
    return high == 0 ? 1.0 : double(latin) / double(high);
}

// How much of text is letters of a script other than Latin, as a Cyrillic or Greek code
// page's text is.
double scriptPlausibility(const QString &text)
{
    return shareBeyondAscii(text, [](char16_t u) { return QChar::isLetter(u) && u >= 0x0370; });
}

constexpr double plausible = 0.5;

} // namespace

QByteArray codePageOfLocale(QByteArrayView locale)
{
    const QByteArray name = locale.toByteArray();
    const QByteArray language
        = name.left(name.indexOf('_') < 0 ? name.indexOf('.') : name.indexOf('_'));
    const QByteArray territory = name.mid(language.size() + 1, 2);
    // A language and territory first ("zh_TW"), then the language alone ("zh").
    for (const QByteArray &wanted : { language + '_' + territory, language }) {
        for (const CodePage &page : codePages()) {
            if (page.locales.contains(wanted))
                return page.name;
        }
    }
    return windows1252;
}

QByteArray systemCodePage()
{
    static const QByteArray codePage = [] {
#ifdef Q_OS_WIN
        const unsigned ansi = GetACP();
        for (const CodePage &page : codePages()) {
            if (page.windowsCodePage == ansi)
                return page.name;
        }
        return "windows-" + QByteArray::number(ansi);
#else
        for (const char *variable : { "LC_ALL", "LC_CTYPE", "LANG" }) {
            const QByteArray locale = qgetenv(variable);
            if (!locale.isEmpty())
                return codePageOfLocale(locale);
        }
        return QByteArray(windows1252);
#endif
    }();
    return codePage;
}

namespace {

// A multibyte code page that decodes a text, and how plausible the result reads.
struct Candidate
{
    QByteArray codePage;
    double plausibility;
};

// The code page for text: the system's where it reads well, a multibyte one that reads better
// than Latin, a Latin code page of the system's, the detector's, else windows-1252. candidates
// go most plausible first.
QByteArray chosenCodePage(QByteArrayView text, const QList<Candidate> &candidates,
    const QByteArray &prior, const QByteArray &detected)
{
    const auto priorCandidate = std::find_if(candidates.cbegin(), candidates.cend(),
        [&prior](const Candidate &c) { return c.codePage == prior; });
    if (priorCandidate != candidates.cend() && priorCandidate->plausibility >= plausible)
        return prior;
    if (!candidates.isEmpty() && candidates.first().plausibility >= plausible
        && candidates.first().plausibility > latinPlausibility(text))
        return candidates.first().codePage;
    // A Latin code page of the system's is taken as it is; one of another script only
    // where the text reads as that script.
    const CodePage *priorPage = codePageNamed(prior);
    const bool latinPrior = priorPage != nullptr && priorPage->script == CodePage::Script::Latin;
    if (prior != windows1252 && !isMultibyte(prior)) {
        const auto decoded = decodeStrictly(text, prior);
        if (decoded && (latinPrior || scriptPlausibility(*decoded) >= plausible))
            return prior;
    }
    if (!detected.isEmpty() && !isMultibyte(detected) && decodeStrictly(text, detected))
        return detected;
    return windows1252;
}

// The chosen code page first, then the plausible candidates, the detector's, the system's and
// windows-1252, each once.
QList<QByteArray> plausibleCodePages(const QByteArray &chosen, const QList<Candidate> &candidates,
    const QByteArray &prior, const QByteArray &detected)
{
    QList<QByteArray> plausibleOnes { chosen };
    for (const Candidate &candidate : candidates) {
        if (candidate.plausibility > 0)
            plausibleOnes.append(candidate.codePage);
    }
    for (const QByteArray &other : { detected, prior, QByteArray(windows1252) })
        plausibleOnes.append(other);
    plausibleOnes.removeAll(QByteArray());
    for (qsizetype i = plausibleOnes.size() - 1; i > 0; --i) {
        if (plausibleOnes.indexOf(plausibleOnes[i]) < i)
            plausibleOnes.removeAt(i);
    }
    return plausibleOnes;
}

} // namespace

CodePageChoice chooseCodePage(QByteArrayView whole, const QByteArray &prior)
{
    // A megabyte tells as much as the whole: a sheet the size of the 64 MiB cap would otherwise
    // keep the preview waiting for seconds. It ends with a line, never inside a character.
    constexpr qsizetype sampleSize = 1 << 20;
    const qsizetype lineEnd = whole.size() > sampleSize ? whole.lastIndexOf('\n', sampleSize) : -1;
    const QByteArrayView text = whole.size() <= sampleSize ? whole
        : lineEnd > 0                                      ? whole.first(lineEnd + 1)
                                                           : whole.first(sampleSize);
    QList<Candidate> candidates;
    const QByteArray detected = detectedCodePage(text);
    for (const CodePage &page : codePages()) {
        if (page.script != CodePage::Script::EastAsian)
            continue;
        if (const auto decoded = decodeStrictly(text, page.name))
            candidates.append({ page.name, eastAsianPlausibility(*decoded) });
    }
    // Most plausible first; ties to the system's code page, then the detector's, then in order.
    const auto rank = [&](const QByteArray &codePage) {
        return codePage == prior ? 0 : codePage == detected ? 1 : 2;
    };
    std::stable_sort(candidates.begin(), candidates.end(), [&](const auto &a, const auto &b) {
        return a.plausibility != b.plausibility ? a.plausibility > b.plausibility
                                                : rank(a.codePage) < rank(b.codePage);
    });
    const QByteArray chosen = chosenCodePage(text, candidates, prior, detected);
    return { chosen, plausibleCodePages(chosen, candidates, prior, detected) };
}

} // namespace cueprune
