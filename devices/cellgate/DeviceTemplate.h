// The GSM device's template for the installed-device catalogue: what the
// module enters into devices.xml when it is registered. 8-bit text with CR
// LF line ends; one tab-indented line per parameter.
#pragma once

namespace velmo::cellgate {

inline constexpr char kDeviceTemplate[] =
    "<device clsid=\"{852F907B-3A8B-4CF5-B19D-8B813B2F7367}\">\r\n"
    "<name>Cellgate</name>\r\n"
    "<file>Cellgate.so</file>\r\n"
    "<author>Norvane</author>\r\n"
    "<parameters>\r\n"
    "\t<parameter name=\"Port\" value=\"1\" title=\"COM-port where device is attached\"/>\r\n"
    "\t<parameter name=\"CommConfig\" value=\"96,n,8,1\" title=\"Comm. details, format: Baud,Parity,Databits,Stopbits. "
    "Ex: 96,N,8,1\"/>\r\n"
    "\t<parameter name=\"SMSCentral\" value=\"\" title=\"Phone no. to SMS Central. Ex. +4917100000000\"/>\r\n"
    "\t<parameter name=\"Pin\" value=\"7351\" title=\"SMS Pincode. Leave blank if running PIN-less\"/>\r\n"
    "\t<parameter name=\"NoSMSC\" value=\"0\" title=\"Set to 1 if using Falcom A1\"/>\r\n"
    "\t<parameter name=\"DumpFile\" value=\"\" title=\"Path to filename used for dumping rawdata. Leave blank if no "
    "dump wanted\"/>\r\n"
    "\t<parameter name=\"FullAlphabet\" value=\"0\" title=\"Set to 1 to send every GSM character (the euro sign, "
    "brackets, Greek capitals) and, for other text, UCS2 (Cyrillic, Chinese, emoji)\"/>\r\n"
    "\t<parameter name=\"CNMI\" value=\"2,1\" title=\"How the modem tells of new messages: 2,1 stores each one "
    "and announces it, so none is lost while the service is down; 1,2 hands it over directly\"/>\r\n"
    "\t<parameter name=\"MaxParts\" value=\"1\" title=\"Most parts a long text is sent in (1: one part, cut at 160 "
    "characters; up to 255)\"/>\r\n"
    "\t<parameter name=\"StatusReport\" value=\"0\" title=\"Set to 1 to ask the network for a delivery report "
    "on every message: a sent message then becomes DELIVERED or UNDELIVERED\"/>\r\n"
    "\t<parameter name=\"ValidityPeriod\" value=\"4d\" title=\"How long the network keeps trying to deliver a "
    "message: 30m, 6h, 4d (up to 63 weeks)\"/>\r\n"
    "</parameters>\r\n"
    "</device>\r\n";

}  // namespace velmo::cellgate
