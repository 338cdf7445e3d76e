#include "link/Robot_Profile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const QString Format = QStringLiteral("Orvik robot profile");

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

QString servoTitle(int index)
{
    return QStringLiteral("servo %1").arg(Servos::All[size_t(index)].number);
}

// A whole number from low to high, or nothing.
std::optional<int> wholeNumber(const QJsonValue &value, int low, int high)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (d != std::floor(d) || d < low || d > high)
        return std::nullopt;
    return int(d);
}

// The line the parser stopped on, counted from 1.
int lineAt(QByteArrayView bytes, qsizetype offset)
{
    return int(bytes.first(std::min(offset, bytes.size())).count('\n')) + 1;
}

} // namespace

Robot_Profile Robot_Profile::builtIn()
{
    Robot_Profile profile;
    for (int i = 0; i < ServoCount; ++i) {
        const Servos::Servo &s = Servos::All[size_t(i)];
        profile.m_servos[size_t(i)] = {latin1(s.name), s.low, s.high, s.home};
    }
    return profile;
}

int Robot_Profile::indexOfNumber(int number)
{
    for (int i = 0; i < ServoCount; ++i)
        if (Servos::All[size_t(i)].number == number)
            return i;
    return -1;
}

int Robot_Profile::indexOfSlot(const Frames::Kind &kind, int slot)
{
    for (int i = 0; i < ServoCount; ++i)
        if (Servos::All[size_t(i)].bodyPart.mnemonic == kind.mnemonic && Servos::All[size_t(i)].slot == slot)
            return i;
    return -1;
}

QString Robot_Profile::servoProblem(const Servo &servo)
{
    const QString name = servo.name.trimmed();
    if (name.isEmpty())
        return QStringLiteral("the name is empty");
    if (name.size() > MaxNameLength)
        return QStringLiteral("the name is longer than %1 characters").arg(MaxNameLength);
    if (std::any_of(name.begin(), name.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        return QStringLiteral("the name holds a control character");
    for (const auto &[what, value] : {std::pair{"low", servo.low}, {"high", servo.high}, {"home", servo.home}}) {
        if (value < 0 || value > 255)
            return QStringLiteral("%1 is %2, not a position from 0 to 255").arg(QLatin1StringView(what)).arg(value);
    }
    if (servo.low > servo.high)
        return QStringLiteral("low (%1) is above high (%2)").arg(servo.low).arg(servo.high);
    if (servo.home < servo.low || servo.home > servo.high)
        return QStringLiteral("home (%1) is not between low and high (%2 to %3)").arg(servo.home).arg(servo.low).arg(servo.high);
    return {};
}

QString Robot_Profile::safeSpeedProblem(int speed)
{
    // 0 is the controller's fastest: no gentle speed at all.
    if (speed < 1 || speed > 255)
        return QStringLiteral("the safe speed is %1, not a speed from 1 to 255").arg(speed);
    return {};
}

QString Robot_Profile::degreesProblem(double degrees)
{
    if (!(degrees > 0 && degrees <= MaxDegreesPerSecond))
        return QStringLiteral("the degrees per second are %1, not a number above 0 and up to %2")
            .arg(degrees)
            .arg(MaxDegreesPerSecond);
    return {};
}

QString Robot_Profile::lowBatteryProblem(int battery, int tenths)
{
    if (tenths < 0 || tenths > MaxLowBatteryTenths)
        return QStringLiteral("the low level of battery %1 is %2 V, not 0 to %3 V")
            .arg(battery + 1)
            .arg(tenths / 10.0)
            .arg(MaxLowBatteryTenths / 10.0);
    return {};
}

bool Robot_Profile::watchesBatteries() const
{
    return std::any_of(m_lowBattery.begin(), m_lowBattery.end(), [](int tenths) { return tenths > 0; });
}

QString Robot_Profile::problem() const
{
    if (QString why = safeSpeedProblem(m_safeSpeed); !why.isEmpty())
        return why;
    if (QString why = degreesProblem(m_degreesPerSecond); !why.isEmpty())
        return why;
    for (int k = 0; k < BatteryCount; ++k) {
        if (QString why = lowBatteryProblem(k, m_lowBattery[size_t(k)]); !why.isEmpty())
            return why;
    }
    for (int i = 0; i < ServoCount; ++i) {
        if (const QString why = servoProblem(m_servos[size_t(i)]); !why.isEmpty())
            return servoTitle(i) + QStringLiteral(": ") + why;
    }
    return {};
}

bool Robot_Profile::widens(int index) const
{
    const Servos::Servo &s = Servos::All[size_t(index)];
    return m_servos[size_t(index)].low < s.low || m_servos[size_t(index)].high > s.high;
}

QString Robot_Profile::positionRefusal(int number, qint64 position) const
{
    const int index = indexOfNumber(number);
    if (!m_limits || index < 0)
        return {};
    const Servo &servo = m_servos[size_t(index)];
    if (position >= servo.low && position <= servo.high)
        return {};
    return QStringLiteral("%1 (servo %2) may only go from %3 to %4, not to %5")
        .arg(servo.name)
        .arg(number)
        .arg(servo.low)
        .arg(servo.high)
        .arg(position);
}

QString Robot_Profile::moveRefusal(const Frames::Kind &kind, const QList<qint32> &values) const
{
    if (!m_limits || values.size() != kind.dataBytes)
        return {};
    if (kind.mnemonic == Frames::SingleServo.mnemonic)
        return positionRefusal(values[0], values[1]);
    for (int slot = 1; slot * 2 <= values.size(); ++slot) {
        const int index = indexOfSlot(kind, slot);
        if (index < 0)
            continue;
        if (QString why = positionRefusal(Servos::All[size_t(index)].number, values[(slot - 1) * 2]); !why.isEmpty())
            return why;
    }
    return {};
}

QByteArray Robot_Profile::toJson() const
{
    QJsonArray servos;
    for (int i = 0; i < ServoCount; ++i) {
        const Servo &s = m_servos[size_t(i)];
        servos.append(QJsonObject{{QStringLiteral("number"), Servos::All[size_t(i)].number},
                                  {QStringLiteral("name"), s.name},
                                  {QStringLiteral("low"), s.low},
                                  {QStringLiteral("high"), s.high},
                                  {QStringLiteral("home"), s.home}});
    }
    QJsonObject root{{QStringLiteral("format"), Format},
                     {QStringLiteral("version"), Version},
                     {QStringLiteral("safeSpeed"), m_safeSpeed},
                     {QStringLiteral("degreesPerSecond"), m_degreesPerSecond},
                     {QStringLiteral("servos"), servos}};
    if (watchesBatteries()) {
        QJsonArray levels;
        for (int tenths : m_lowBattery)
            levels.append(tenths / 10.0);
        root.insert(QStringLiteral("lowBattery"), levels);
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<Robot_Profile> Robot_Profile::parse(QByteArrayView bytes, QString *why)
{
    auto refuse = [why](const QString &text) -> std::optional<Robot_Profile> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    if (bytes.size() > MaxFileSize)
        return refuse(QStringLiteral("the file is larger than %1 KB").arg(MaxFileSize / 1024));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("line %1: %2").arg(lineAt(bytes, error.offset)).arg(error.errorString()));
    if (!document.isObject())
        return refuse(QStringLiteral("the file holds no profile object"));
    const QJsonObject root = document.object();

    static const QSet<QString> RootKeys{QStringLiteral("format"), QStringLiteral("version"), QStringLiteral("safeSpeed"),
                                        QStringLiteral("degreesPerSecond"), QStringLiteral("lowBattery"),
                                        QStringLiteral("servos")};
    for (auto it = root.begin(); it != root.end(); ++it)
        if (!RootKeys.contains(it.key()))
            return refuse(QStringLiteral("\"%1\" is no key of a profile").arg(it.key()));
    if (root.value(QStringLiteral("format")).toString() != Format)
        return refuse(QStringLiteral("\"format\" is not \"%1\"").arg(Format));
    const std::optional<int> version = wholeNumber(root.value(QStringLiteral("version")), 1, INT_MAX);
    if (!version)
        return refuse(QStringLiteral("\"version\" is not a whole number from 1"));
    if (*version > Version)
        return refuse(QStringLiteral("\"version\" is %1; this program reads version %2").arg(*version).arg(Version));

    Robot_Profile profile = builtIn();
    profile.m_limits = true;
    if (root.contains(QStringLiteral("safeSpeed"))) {
        const std::optional<int> speed = wholeNumber(root.value(QStringLiteral("safeSpeed")), 1, 255);
        if (!speed)
            return refuse(QStringLiteral("\"safeSpeed\" is not a whole number from 1 to 255"));
        profile.m_safeSpeed = *speed;
    }
    if (root.contains(QStringLiteral("degreesPerSecond"))) {
        const QJsonValue degrees = root.value(QStringLiteral("degreesPerSecond"));
        if (!degrees.isDouble() || !degreesProblem(degrees.toDouble()).isEmpty())
            return refuse(QStringLiteral("\"degreesPerSecond\" is not a number above 0 and up to %1").arg(MaxDegreesPerSecond));
        profile.m_degreesPerSecond = degrees.toDouble();
    }
    if (root.contains(QStringLiteral("lowBattery"))) {
        const QJsonValue value = root.value(QStringLiteral("lowBattery"));
        const QJsonArray levels = value.toArray();
        const QString wrong = QStringLiteral("\"lowBattery\" is not a list of %1 volts from 0 to %2")
                                  .arg(BatteryCount)
                                  .arg(MaxLowBatteryTenths / 10.0);
        if (!value.isArray() || levels.size() != BatteryCount)
            return refuse(wrong);
        for (int k = 0; k < BatteryCount; ++k) {
            const QJsonValue volts = levels.at(k);
            // Kept to the tenth, as the replies give it.
            const double tenths = volts.toDouble(-1) * 10;
            if (!volts.isDouble() || !(tenths >= 0 && tenths < MaxLowBatteryTenths + 0.5))
                return refuse(wrong);
            profile.m_lowBattery[size_t(k)] = int(std::lround(tenths));
        }
    }

    const QJsonValue servosValue = root.value(QStringLiteral("servos"));
    if (!servosValue.isArray())
        return refuse(QStringLiteral("\"servos\" is not a list"));
    const QJsonArray servos = servosValue.toArray();
    std::array<bool, ServoCount> seen{};
    static const QSet<QString> ServoKeys{QStringLiteral("number"), QStringLiteral("name"), QStringLiteral("low"),
                                         QStringLiteral("high"), QStringLiteral("home")};
    for (qsizetype n = 0; n < servos.size(); ++n) {
        const QString entry = QStringLiteral("\"servos\" entry %1").arg(n + 1);
        if (!servos[n].isObject())
            return refuse(entry + QStringLiteral(" is not an object"));
        const QJsonObject object = servos[n].toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            if (!ServoKeys.contains(it.key()))
                return refuse(QStringLiteral("%1: \"%2\" is no key of a servo").arg(entry, it.key()));
        const std::optional<int> number = wholeNumber(object.value(QStringLiteral("number")), 0, 255);
        const int index = number ? indexOfNumber(*number) : -1;
        if (index < 0)
            return refuse(QStringLiteral("%1: \"number\" is not the number of one of the robot's servos").arg(entry));
        if (seen[size_t(index)])
            return refuse(QStringLiteral("%1: servo %2 is listed twice").arg(entry).arg(*number));
        seen[size_t(index)] = true;

        const QString where = QStringLiteral("%1 (servo %2)").arg(entry).arg(*number);
        Servo servo = profile.m_servos[size_t(index)];
        if (object.contains(QStringLiteral("name"))) {
            if (!object.value(QStringLiteral("name")).isString())
                return refuse(QStringLiteral("%1: \"name\" is not a text").arg(where));
            servo.name = object.value(QStringLiteral("name")).toString().trimmed();
        }
        for (const auto &[key, field] : {std::pair{"low", &Servo::low}, {"high", &Servo::high}, {"home", &Servo::home}}) {
            const std::optional<int> value = wholeNumber(object.value(QLatin1StringView(key)), 0, 255);
            if (!value)
                return refuse(QStringLiteral("%1: \"%2\" is not a whole number from 0 to 255").arg(where, QLatin1StringView(key)));
            servo.*field = *value;
        }
        if (const QString problem = servoProblem(servo); !problem.isEmpty())
            return refuse(QStringLiteral("%1: %2").arg(where, problem));
        profile.m_servos[size_t(index)] = servo;
    }
    for (int i = 0; i < ServoCount; ++i)
        if (!seen[size_t(i)])
            return refuse(QStringLiteral("\"servos\": %1 (%2) is missing").arg(servoTitle(i), latin1(Servos::All[size_t(i)].name)));
    return profile;
}

std::optional<Robot_Profile> Robot_Profile::load(const QString &fileName, QString *why)
{
    auto refuse = [&](const QString &text) -> std::optional<Robot_Profile> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    const QFileInfo info(fileName);
    if (!info.exists())
        return refuse(QStringLiteral("the file does not exist"));
    // A device or a pipe could block or act when read.
    if (!info.isFile())
        return refuse(QStringLiteral("it is not a regular file"));
    if (info.size() > MaxFileSize)
        return refuse(QStringLiteral("the file is larger than %1 KB").arg(MaxFileSize / 1024));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    return parse(file.read(MaxFileSize + 1), why);
}

bool Robot_Profile::save(const QString &fileName, QString *why) const
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(toJson()) < 0 || !file.commit()) {
        if (why)
            *why = file.errorString();
        return false;
    }
    return true;
}
