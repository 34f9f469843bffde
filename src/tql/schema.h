#pragma once
// Names of the object database's classes and properties. Objects carry class
// numbers and their properties carry property numbers, on the wire and in
// every TQL structure; the numbers and names are shared with the database
// process and never change. Code names the numbers through the constants in
// `tql::cls` and `tql::prop`; diagnostics print them with className and
// propertyName. Every lookup works on constant tables: nothing to build, no
// state, safe to call from anywhere.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error/check.h"

namespace tql {

// Class numbers run from 0 to kClassCount - 1; 78 is reserved and unnamed.
inline constexpr std::uint32_t kClassCount = 95;
// One past the highest property number with a name.
inline constexpr std::uint32_t kPropertyLimit = 4403;

// The name of a class or property number, or "<unknown class: N>" /
// "<unknown property: N>" for a number without one (N in signed decimal, so a
// stray -1 reads as -1). Never fails.
std::string className(std::uint32_t number);
std::string propertyName(std::uint32_t number);

// The same lookups without the fallback text and without allocating.
std::optional<std::string_view> findClassName(std::uint32_t number);
std::optional<std::string_view> findPropertyName(std::uint32_t number);

// Name to number, exact and case-sensitive. "capGridConf" names both 913 and
// 915 and resolves to 913.
std::optional<std::uint32_t> findClassNumber(std::string_view name);
std::optional<std::uint32_t> findPropertyNumber(std::string_view name);

}  // namespace tql

// The class and property lists as X-macros: X(number, name) once per entry,
// the single source of both the constants below and the name tables. Entries
// whose name is not a usable identifier are not listed here: class 13 (named
// "."), property 1000 ("public", a keyword; its constant is prop::public_)
// and property 915 (a second "capGridConf"; the constant names 913).
// clang-format off
#define HX_TQL_CLASSES(X)                                                                          \
  X(0, NodeInfoGroup) X(1, Check) X(2, NodeSummary) X(3, Domain) X(4, Node) X(5, Report)           \
  X(6, ReportResult) X(7, ReportIssue) X(8, User) X(9, View) X(10, ViewEntry) X(11, AlertGroup)    \
  X(12, Enumeration) X(14, AlertPath) X(15, ClusterInfo) X(16, MetaInfo) X(17, StatusInfo)         \
  X(18, EnumerationValue) X(19, CheckSummary) X(20, ScoreInfo) X(21, NodeInfoLine)                 \
  X(22, CheckGroup) X(23, ClassLayout) X(24, GroupLayout) X(25, PropertyLayout)                    \
  X(26, PropertySpecialValue) X(27, MibObject) X(28, MibModule) X(29, MibModuleObject)             \
  X(30, MibModuleType) X(31, MibTypeEnum) X(32, NodeView) X(33, Plan) X(34, DayPlanner)            \
  X(35, WeekPlanner) X(36, DatePlanner) X(37, Event) X(38, ReportInstance)                         \
  X(39, ReportResultFolder) X(40, ReportResultRow) X(41, ReportResultGraph)                        \
  X(42, LogCheckRuleComment) X(43, ReportResultLog) X(44, UserProfile) X(45, LogCheckRule)         \
  X(46, NodeClassRegexRule) X(47, ReportSelection) X(48, ReportCheckSelection) X(49, NodeClass)    \
  X(50, NetworkScan) X(51, GridConfig) X(52, GridStationConfig) X(53, GridLinkConfig)              \
  X(54, ClusterConfig) X(55, ClusterServerConfig) X(56, CustomAlertPathConfig)                     \
  X(57, CheckAccumulation) X(58, AlertPathUsage) X(59, NetworkScanWork) X(60, NodeAgentStatus)     \
  X(61, QuickLink) X(62, ReportSendTo) X(63, ReportOrder) X(64, ForecastLock)                      \
  X(65, ForecastModel) X(66, ForecastEval) X(67, SnmpScan) X(68, NodeClassNodeConfig)              \
  X(69, NodeClassCheckGroupConfig) X(70, NodeClassCheckConfig)                                     \
  X(71, NodeClassCheckAccumulationConfig) X(72, NodeClassConflict) X(73, TemplateLayout)           \
  X(74, MountPoint) X(75, DomainExport) X(76, NotificationJob) X(77, CandidateNode)                \
  X(79, MultiCheck) X(80, Series) X(81, SumExpression) X(82, CheckExpression)                      \
  X(83, MultiCheckExpression) X(84, NodeClassMultiCheckConfig) X(85, ReportText)                   \
  X(86, ActionConnection) X(87, ExpectedEvent) X(88, UnexpectedEvent) X(89, CustomParameter)       \
  X(90, Tag) X(91, EnumCheckTagRule) X(92, TagRuleMatch) X(93, GraphicalView)                      \
  X(94, GraphicalViewNode)

#define HX_TQL_PROPERTIES(X)                                                                       \
  X(0, id) X(1, version) X(2, parentId) X(3, nodeType) X(50, parentName) X(51, name)               \
  X(52, siblingName) X(53, treeLabel) X(54, longLabel) X(55, isPassword) X(56, isArray)            \
  X(57, inheritsFrom) X(58, abstract) X(59, inherits) X(60, hasInherits) X(61, treeLabelPattern)   \
  X(62, stationLocale) X(63, mountPoint) X(64, anyOverridden) X(65, activeMark)                    \
  X(66, inheritsMark) X(67, isSpecialArrayEntry) X(68, isContinuous) X(69, siblingNamePattern)     \
  X(105, countOK) X(106, countWarn) X(107, countAlert) X(108, gridExportList) X(109, dependsOn)    \
  X(150, isMultiline) X(151, hiddenCreate) X(152, handler) X(153, blobMime) X(154, values)         \
  X(200, checkinFrequency) X(201, releaseKey) X(202, clearUpgrade) X(203, alertGroup)              \
  X(204, alertGroupValues) X(205, downUntil) X(206, downNotify) X(207, checkinScore)               \
  X(208, missedCheckinScore) X(209, warn) X(210, warnCeiling) X(211, alert) X(212, alertCeiling)   \
  X(213, snmpCommunity) X(214, snmpPassword) X(215, snmpScan) X(216, agentReconfig)                \
  X(217, agentRescan) X(218, snmpScanInProgress) X(219, snmpScanned) X(220, keyPrime)              \
  X(221, keyGenerator) X(222, keySecret) X(223, keySession) X(224, sessionKeyExpire)               \
  X(225, currentlyDown) X(226, snmpVersion) X(227, nodeClasses) X(228, resetScore)                 \
  X(229, resetAllScores) X(230, domainName) X(231, snmpPort) X(250, packageId)                     \
  X(251, majorVersion) X(252, minorVersion) X(253, releaseVersion) X(254, buildno)                 \
  X(255, agentCaps) X(256, hasDownloaded) X(257, hasDownloadedDate) X(258, failedBuildno)          \
  X(300, issueAdd) X(301, issueOs) X(302, issueNetCheck) X(303, issueAgentCheck)                   \
  X(304, issueNode) X(305, startTime) X(306, duration) X(307, period) X(308, issueType)            \
  X(309, issueForm) X(310, issueLimit) X(311, issueClass) X(312, updateType) X(313, dataType)      \
  X(314, numData) X(315, progress) X(316, generateReport) X(317, owner) X(318, lastGenerated)      \
  X(319, time) X(320, date) X(322, maxInstances) X(323, intervals) X(324, contains)                \
  X(325, generated) X(326, plotMin) X(327, plotMax) X(328, orderTime) X(329, autoPublish)          \
  X(330, formIntro) X(331, formSummary) X(332, formGraph) X(333, formTable) X(334, formMeta)       \
  X(335, includeConfig) X(336, endTime) X(337, hideSectionLevel) X(338, hideSectionThreshold)      \
  X(340, folderType) X(341, originNode)                                                            \
  X(400, forecastEnabled) X(401, warnOnForecast) X(402, forecastAlertTime)                         \
  X(403, forecastAlertEstError) X(404, forecastModel) X(405, forecastSigClass)                     \
  X(406, forecastLastModelEst) X(407, forecastLastModelEval) X(408, forecastOrder)                 \
  X(409, forecastSigFitLen) X(410, forecastSampleTime) X(411, forecastLastForecTime)               \
  X(412, forecastLastWeightedError) X(413, forecastWorkerNode)                                     \
  X(500, type) X(501, frequency) X(502, active) X(503, alertStrategy) X(504, goodScore)            \
  X(505, warnScore) X(506, alertScore) X(507, remoteType) X(508, port) X(509, remoteName)          \
  X(510, warnIfAbove) X(511, alertIfAbove) X(512, infoUrl) X(513, checkType) X(514, checkName)     \
  X(515, warnIfBelow) X(516, alertIfBelow) X(517, user) X(518, dnsHost) X(519, dnsIp)              \
  X(520, agentId) X(521, descriptionGood) X(522, descriptionWarn) X(523, descriptionAlert)         \
  X(524, comment) X(525, noStates) X(526, alertBitmap) X(527, warnBitmap) X(528, executeAction)    \
  X(529, fire) X(530, mibObject) X(531, infoValue) X(532, customType) X(533, connClose)            \
  X(534, httpUrl) X(535, checkPassword) X(536, acknowledgeAlerts) X(537, doAcknowledgeAlert)       \
  X(538, lastAcknowledge) X(539, separatorRegex) X(540, separatorInclusion)                        \
  X(541, smtpExecuteVrfy) X(542, httpStatusRegex) X(543, httpContentRegex)                         \
  X(544, automaticDowntime) X(545, automaticResetScores) X(546, silenceWarn)                       \
  X(547, silenceAlert) X(548, rangeMin) X(549, rangeMax) X(550, warnIfAbovePct)                    \
  X(551, alertIfAbovePct) X(552, warnIfBelowPct) X(553, alertIfBelowPct) X(554, stateColors)       \
  X(555, checkAttempts) X(556, parasiteOn) X(557, httpVersion) X(558, parasitePattern)             \
  X(559, useSsl) X(560, supportsMultiCheck) X(561, manualTags) X(562, effectiveTags)               \
  X(563, httpUserAgent)                                                                            \
  X(600, snmpId) X(601, snmpInstanceId) X(602, checkNameFormat) X(650, interval) X(651, rolling)   \
  X(652, alertOneShot) X(653, warningSentTo) X(654, alertSentTo) X(655, accumType)                 \
  X(700, lastCheck) X(701, nextCheck) X(702, result) X(703, explanation) X(704, lastGood)          \
  X(705, lastWarn) X(706, lastAlert)                                                               \
  X(800, status) X(801, score) X(806, enteredWarn) X(807, enteredAlert) X(808, state)              \
  X(900, realName) X(901, password) X(902, capSetCap) X(903, capUsers) X(904, capDomains)          \
  X(905, capNodes) X(906, capChecks) X(907, capGroups) X(908, capRead) X(909, capSelf)             \
  X(910, capReports) X(911, capAction) X(912, capAck) X(913, capGridConf) X(914, capClusterConf)   \
  X(1001, noOfCols) X(1002, defaultAsAlertList) X(1003, publicEdit)                                \
  X(1100, entry) X(1101, position) X(1102, viewType) X(1103, showGraph) X(1104, showXAxis)         \
  X(1105, showYAxis) X(1106, showTopDetails) X(1107, condensed)                                    \
  X(1200, method) X(1201, destination) X(1202, minDelay) X(1203, forWarnings) X(1204, forAlerts)   \
  X(1205, forForecasts) X(1206, testPath) X(1207, alertPathList) X(1208, customTypeValues)         \
  X(1209, includeGraphs) X(1210, graphInterval1) X(1211, graphInterval2) X(1212, graphInterval3)   \
  X(1213, graphNo) X(1214, includeActions) X(1215, includeSummary) X(1216, includeSummarySms)      \
  X(1217, uptimeGraphInterval) X(1218, logCheckLines) X(1219, minDelayScope)                       \
  X(1220, initialDelay) X(1221, smsSubject) X(1222, initialUnknownDelay) X(1223, forUnknowns)      \
  X(1224, forOks) X(1225, repeatInterval) X(1226, showDomainPath) X(1227, forDowntimes)            \
  X(1240, timestamp) X(1241, path) X(1250, commandTemplate) X(1251, allowedServers)                \
  X(1300, members) X(1301, membersValues)                                                          \
  X(1400, checkin) X(1401, system) X(1402, network) X(1403, worst) X(1404, worstNode)              \
  X(1405, worstDomain)                                                                             \
  X(1500, lastCheckin) X(1501, nextCheckin) X(1502, lastService) X(1503, nextService)              \
  X(1504, lastServiceRef) X(1505, nextServiceRef) X(1506, lastSnmp) X(1507, lastSnmpRef)           \
  X(1508, nextSnmp) X(1509, nextSnmpRef) X(1510, badChecks) X(1511, unknownChecks)                 \
  X(1600, tag)                                                                                     \
  X(1700, text)                                                                                    \
  X(1800, description) X(1801, containingTable)                                                    \
  X(1901, recoveryProgress) X(1902, allUp) X(1906, reportGenerator)                                \
  X(2000, value)                                                                                   \
  X(2100, label) X(2101, onDelete) X(2102, onCreate)                                               \
  X(2200, order) X(2201, requiredExperience)                                                       \
  X(2300, unit) X(2301, nullText) X(2302, className)                                               \
  X(2400, checks)                                                                                  \
  X(2500, snmpType) X(2501, displayHint)                                                           \
  X(2600, tsdbIndex) X(2601, tsdbIncident) X(2602, tsdbForecast)                                   \
  X(2900, lastInstalledSeq)                                                                        \
  X(3000, useJava) X(3001, disableBreadCrumbs) X(3002, graphShowMinMax)                            \
  X(3003, graphShowNoResponse) X(3004, graphAutoScale) X(3005, showRefreshCounter)                 \
  X(3006, graphTabularUptime) X(3007, graphTabularEnum) X(3008, refreshInterval)                   \
  X(3009, timeZone) X(3010, preferredUnit) X(3011, preferredBinary)                                \
  X(3101, logCheckRegex) X(3102, logCheckStatus) X(3103, logCheckLogDecision)                      \
  X(3300, ipRangeBegin) X(3301, ipRangeEnd) X(3302, icmp) X(3303, http) X(3304, smtp)              \
  X(3305, pop3) X(3306, imap) X(3307, ftp) X(3308, dns) X(3309, workerNode) X(3310, ports)         \
  X(3311, nodes) X(3312, nodesValues) X(3313, createChecks) X(3314, https) X(3315, pop3s)          \
  X(3316, imaps) X(3350, done)                                                                     \
  X(3400, gid) X(3401, exportPath) X(3410, signKeyPublic_n) X(3411, signKeyPublic_e)               \
  X(3412, signKeyPrivate_d) X(3415, cryptKeyPublic_n) X(3416, cryptKeyPublic_e)                    \
  X(3417, cryptKeyPrivate_d) X(3418, isLeeching) X(3430, mayAccept) X(3431, mayInitiate)           \
  X(3432, peerAddress) X(3433, linkKeepAlive)                                                      \
  X(3500, ruleType) X(3501, regex) X(3502, resultStrings) X(3550, icon) X(3551, hasIcon)           \
  X(3552, autoPromote) X(3553, final) X(3554, forAll) X(3555, hasConfiguration)                    \
  X(3556, mustHave) X(3557, tagId) X(3558, rule) X(3580, object) X(3581, node)                     \
  X(3582, classConfigObjects)                                                                      \
  X(3600, isLocalServer) X(3601, serverNumber)                                                     \
  X(3700, url) X(3701, visibleInSubdomains) X(3702, openInNewWindow)                               \
  X(3800, masterId) X(3801, copyVersion) X(3802, masterVersion) X(3803, mountedDomain)             \
  X(3804, masterBuild) X(3805, slaveBuild) X(3806, syncStatus)                                     \
  X(3900, alertNotifyNode) X(3901, alertNotifyObject) X(3902, alertNotifyJobType)                  \
  X(3903, alertNotifySeverity) X(3904, alertNotifyMailBody) X(3905, alertNotifyMailSubj)           \
  X(3906, alertNotifySMSBody) X(3907, alertNotifySMSSubj) X(3908, alertNotifySerial)               \
  X(3909, transmissionDue) X(3910, attemptNo)                                                      \
  X(4100, expression) X(4101, check) X(4102, terms)                                                \
  X(4200, actionId)                                                                                \
  X(4300, image) X(4301, showPopupOnAlert) X(4302, showPopupOnWarning)                             \
  X(4303, showPopupOnUnknown) X(4304, showPopupOnDowntime) X(4305, showPopupOnOK)                  \
  X(4306, largeImage)                                                                              \
  X(4400, showLabel) X(4401, xCoordinate) X(4402, yCoordinate)
// clang-format on

namespace tql::cls {
#define HX_TQL_CONSTANT(number, name) inline constexpr std::uint32_t name = number;
HX_TQL_CLASSES(HX_TQL_CONSTANT)
#undef HX_TQL_CONSTANT
}  // namespace tql::cls

namespace tql::prop {
#define HX_TQL_CONSTANT(number, name) inline constexpr std::uint32_t name = number;
HX_TQL_PROPERTIES(HX_TQL_CONSTANT)
#undef HX_TQL_CONSTANT
inline constexpr std::uint32_t public_ = 1000;

// Two numbered families of 32 properties each: stateAction0 to stateAction31
// at 2700 to 2731 and stateLabel0 to stateLabel31 at 2800 to 2831. Slot k of
// a family is its base + k; a slot outside 0 to 31 is a bug in the caller.
inline constexpr std::uint32_t kStateSlots = 32;
inline constexpr std::uint32_t kStateActionBase = 2700;
inline constexpr std::uint32_t kStateLabelBase = 2800;

constexpr std::uint32_t stateAction(std::uint32_t slot) {
  HX_CHECK(slot < kStateSlots, "stateAction slot " + std::to_string(slot) + " out of range");
  return kStateActionBase + slot;
}
constexpr std::uint32_t stateLabel(std::uint32_t slot) {
  HX_CHECK(slot < kStateSlots, "stateLabel slot " + std::to_string(slot) + " out of range");
  return kStateLabelBase + slot;
}

}  // namespace tql::prop
