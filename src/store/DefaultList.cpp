// A new list starts from this text, read like a maillist.ini on disk. Notice texts keep their
// line breaks written as "\13\10"; a text with a leading blank is quoted so that the blank stays.
#include "store/DefaultList.h"

#include "platform/Text.h"
#include "store/IniFile.h"

namespace orvex {

std::string_view DefaultListText() {
  return R"INI([General]
Name=New mailing list
Address=list@example.org
ControlAddress=list-request@example.org
Moderator=list-moderator@example.org
From=list-owner@example.org
SMTPHOST=smtp.example.org
Confirm subscription=1
Days=7
Moderated=1
Send to originator=0
Nonsubscribers=1
Digest mode=3
SMTPPort=25
Pop3Count=0
ListHeaders=1
BounceLimit=5
FromRewrite=1

[Signature]
Subject=
Text=________________________________\13\10{Listname}\13\10Send posts to {listaddress}\13\10Commands to   {controladdress}\13\10Moderator     {Moderator}

[Subscribe confirmation]
Subject={listName}  subscribe-confirm-{ConfirmCode}
Text=To confirm your subscription to {ListName} you have to send a message\13\10to {ControlAddress} with subject including \13\10 "subscribe-confirm-{ConfirmCode}".\13\10Simply selecting "Reply" in mail client works well in most cases.\13\10Your confirmation code is {ConfirmCode}

[Subscribe successfull]
Subject=You have successfully subscribed to {Listname}
Text=Cogratulations !\13\10You can post to {Listname} by sending messates to {ListAddress}.\13\10\13\10To control your personal options, send messages to {ControlAddress}\13\10with command in subject line.\13\10\13\10Valid commands :\13\10\13\10unsubscribe {Password}\13\10  Unsubscribe from {ListName}\13\10\13\10digest-on {Password}\13\10  Set digest mode on. You will receive digests, not individual messages\13\10\13\10digest-off {Password}\13\10  Receive individual messages, not digests.\13\10\13\10pause {Password}\13\10  Stop delivering mail. Useful if you plan on taking a\13\10  short vacation.\13\10\13\10resume {Password}\13\10  Resume delivering mail.\13\10\13\10Your password is {Password}

[unSubscribe successfull]
Subject=You have successfully unsubscribed from {Listname}
Text=Your subscribtion to {ListName} has been canceled according to your request.\13\10If you decide to re-join us later, just send a message with a single word\13\10"subscribe" (no quotes!) in the subject line to {controladdress}

[Digest on]
Subject={Listname} : Digest mode turned on
Text=Digest mode of  {Listname} is turned on\13\10You can turn it off by sending a message to {controladdress}\13\10with subject "digest-off <password>" (no quotes!), substituting your password instead of <password>.

[Digest off]
Subject={Listname} : Digest mode turned off
Text=Digest mode of  {Listname} is turned off\13\10You can turn it on by sending a message to {controladdress}\13\10with subject "digest-on <password>" (no quotes!), substituting your password instead of <password>.

[Nonsubscriber]
Subject=You are not allowed to post messages to {Listname}
Text=To post messages to {ListName} you have to subscribe.\13\10To do so, just send a message with a single word\13\10"subscribe" (no quotes!) in the subject line to {controladdress}

[Moderate]
Subject=Message from  {ListName} subscriber
Text=As you are the moderator of {ListName}, this message was brought to you.\13\10If this message complies with {ListName} terms, approve it and it goes to {ListAddress}:\13\10  {ApproveLink}\13\10Otherwise reject it:\13\10  {RejectLink}\13\10(Or answer this message with the subject "approve {Token}" or "reject {Token}";\13\10with a rejection, the first line you write is sent to the sender as the reason.)\13\10Original message attached.

[NS-Moderate]
Subject=Message from non-subscriber posted to the list
Text=Message from {Sender} was sent to {ListName}\13\10{Sender} is not subscribed to {ListName}\13\10To post it to the list, approve it:\13\10  {ApproveLink}\13\10Otherwise reject it:\13\10  {RejectLink}\13\10(Or answer this message with the subject "approve {Token}" or "reject {Token}";\13\10with a rejection, the first line you write is sent to the sender as the reason.)\13\10Original message attached.\13\10

[Subscription request]
Subject=Subscription request for {ListName}
Text={Address} asks to subscribe to {ListName}.\13\10To let {Address} in, approve the request:\13\10  {ApproveLink}\13\10Otherwise reject it:\13\10  {RejectLink}\13\10(Or answer this message with the subject "approve {Token}" or "reject {Token}".)\13\10The request is attached.

[Post rejected]
Subject=Your post to {ListName} was not accepted
Text=Your post to {ListName} with the subject "{Subject}" was not accepted by the moderator.\13\10The moderator's reason: {Reason}

[Digest]
Subject=Digest of {ListName}
Text=This is digest of {Listname}\13\10When replying to this message, please edit the subject to say \13\10something more meaningful than simply "Re: Digest of {ListName}"

[Digest message]
Subject=
Text=

[Paused]
Subject=Your subscribtion to {LISTNAME} paused
Text=" From now you will not receive messages from {LISTNAME}\13\10To resume your subscribtion, use RESUME command"

[Resumed]
Subject=Your subscribtion to {LISTNAME} resumed
Text=Your subscribtion to {LISTNAME} resumed\13\10You will start receiving messages soon

[Unsubscribe confirmation]
Subject={ListName}  unsubscribe-confirm-{ConfirmCode}
Text=Someone, probably you, asked to unsubscribe this address from {ListName}.\13\10To confirm, send a message to {ControlAddress} with subject including \13\10 "unsubscribe-confirm-{ConfirmCode}".\13\10Simply selecting "Reply" in mail client works well in most cases.\13\10If you want to stay subscribed, just ignore this message.\13\10Your confirmation code is {ConfirmCode}

[Bounce pause]
Subject=Your subscription to {ListName} paused
Text=Mail from {ListName} to your address has been returned as undeliverable\13\10too many times, so it is not sent to you any more.\13\10To resume your subscription, send a message to {ControlAddress}\13\10with subject "resume <password>" (no quotes!), substituting your password instead of <password>.
)INI";
}

const IniFile& NoticeSource(const IniFile& config, std::string_view section) {
  if (EqualsIgnoreCase(section, "Signature")) return config;
  for (const std::string& name : config.SectionNames())
    if (EqualsIgnoreCase(name, section)) return config;
  static const IniFile builtIn = IniFile::FromText(DefaultListText());
  return builtIn;
}

}  // namespace orvex
